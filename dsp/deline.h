// Delay line with groups of taps. Each group sums its taps, writes the sum
// (scaled by its gain) to its own output buffer and feeds it back (scaled by
// its feedback) into the line. The group and delay lists are flattened into a
// word program once per block, and the inner loop walks that program.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "dsp/effect.h"

class QZ_Effect_Deline : public QZ_Effect {
public:
    static constexpr std::int32_t LINE_SIZE = 65536;
    static constexpr std::int32_t PROGRAM_CAPACITY = 16384;
    static constexpr std::int32_t MAX_DELAY = 65534;
    static constexpr std::int32_t MAX_GROUPS = PROGRAM_CAPACITY / 4;

    // A tap. An object of its own so that commands can name it by handle; it
    // has no class descriptor, so commands cannot delete it directly.
    struct Delay : QZ_Object {
        explicit Delay(void* owner_group) : link(this), group(owner_group) {}
        // Numbers that options may change while passes run.
        std::atomic<std::int32_t> amplitude{0};  // Q31
        std::atomic<float> time{0.0f};
        std::atomic<bool> in_samples{false};
        QZ_Chain_Item link;
        void* group;
    };

    struct Group : QZ_Object {
        explicit Group(QZ_Effect_Deline* e) : link(this), owner(e) {}
        std::atomic<std::int32_t> feedback{0};    // Q23
        std::atomic<std::int32_t> gain{8388607};  // Q23
        QZ_Buffer_ref out;
        QZ_Chain_Item link;
        QZ_Chain delays;
        Delay* current = nullptr;
        QZ_Effect_Deline* owner;
    };

    QZ_Effect_Deline();
    ~QZ_Effect_Deline() override;

    void process() noexcept override;
    void reset() noexcept override;

    // Writes the tap program for the current clock and output blocks; returns
    // its length in words (0 when there is nothing to run).
    std::int32_t compile() noexcept;

    static QZ_value m_i(QZ_Object* obj, QZ_value v);
    static QZ_value m_g(QZ_Object* obj, QZ_value v);
    static QZ_value m_go(QZ_Object* obj, QZ_value v);
    static QZ_value m_ga(QZ_Object* obj, QZ_value v);
    static QZ_value m_gf(QZ_Object* obj, QZ_value v);
    static QZ_value m_gc(QZ_Object* obj, QZ_value v);
    static QZ_value m_d(QZ_Object* obj, QZ_value v);
    static QZ_value m_dt(QZ_Object* obj, QZ_value v);
    static QZ_value m_da(QZ_Object* obj, QZ_value v);
    static QZ_value m_delete(QZ_Object* obj, QZ_value v);

    QZ_Buffer_ref in;
    QZ_Chain groups;
    Group* current = nullptr;
    QZ_Samples line;
    std::uint16_t position = 0;
    std::unique_ptr<std::int32_t[]> program;
    std::int32_t program_length = 0;  // words the structure needs (4 per group, 2 per delay)

private:
    void clear_group(Group* g);
    // Output block ends and lengths of the groups, indexed by the program's
    // output word (-1 for none); refreshed by compile.
    std::unique_ptr<std::int32_t*[]> out_end_;
    std::unique_ptr<std::int32_t[]> out_len_;
};
