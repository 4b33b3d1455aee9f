// Which parameter a name on the command line means.
#include <gtest/gtest.h>

#include "host/cli_params.h"

TEST(ParameterNames, ExactNamesFirstThenTheOneCutShortNameThatStartsIt) {
    // As a plug-in file tells them: short names only, some cut to 7 characters.
    const std::vector<Param_Names> file = {{"State", ""}, {"Frequen", ""}, {"Resonan", ""}, {"Gain", ""}};
    EXPECT_EQ(zelo_find_parameter(file, "frequen"), 1);
    EXPECT_EQ(zelo_find_parameter(file, "Frequency"), 1);
    EXPECT_EQ(zelo_find_parameter(file, "RESONANCE"), 2);
    EXPECT_EQ(zelo_find_parameter(file, "Gain"), 3);
    // Not cut, so whole: a longer name is another one.
    EXPECT_EQ(zelo_find_parameter(file, "Gainful"), kNoParameter);
    EXPECT_EQ(zelo_find_parameter(file, "Statement"), kNoParameter);
    // Shorter than the short name, or different after it.
    EXPECT_EQ(zelo_find_parameter(file, "Freq"), kNoParameter);
    EXPECT_EQ(zelo_find_parameter(file, "Frequenz"), 1);  // the cut name cannot tell them apart
    EXPECT_EQ(zelo_find_parameter(file, "Frequ3ncy"), kNoParameter);
    EXPECT_EQ(zelo_find_parameter(file, ""), kNoParameter);

    // Two cut names alike: a longer name fits both and is refused; the exact
    // full name still picks one.
    const std::vector<Param_Names> twins = {{"Cutoff ", "Cutoff L"}, {"Cutoff ", "Cutoff R"}, {"Mix", "Dry/Wet"}};
    EXPECT_EQ(zelo_find_parameter(twins, "Cutoff Left"), kAmbiguousParameter);
    EXPECT_EQ(zelo_find_parameter(twins, "cutoff r"), 1);
    EXPECT_EQ(zelo_find_parameter(twins, "dry/wet"), 2);
    EXPECT_EQ(zelo_find_parameter(twins, "mix"), 2);
    EXPECT_EQ(zelo_parameter_list(twins), "Cutoff  (Cutoff L), Cutoff  (Cutoff R), Mix (Dry/Wet)");
}
