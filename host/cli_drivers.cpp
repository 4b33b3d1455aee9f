// `zelo drivers`: sets up the driver classes as the host does, then initialises
// each driver instance in turn to list what it offers. Nothing is started.
#include "host/cli_drivers.h"

#include <cstdio>
#include <cstring>

#include "host/host_front.h"
#include "rts/rts.h"
#include "rts/wave.h"

namespace {
void no_block() {}

void list_driver(QZ_Rts* d) {
    std::printf("%s\n", d->name);
    const QZ_error r = d->init();
    if (r != QZ_OK) {
        std::printf("  cannot be used: %s\n", r ? r : "unknown error");
        d->exit();
        return;
    }
    if (d->modes.count == 0) {
        std::printf("  no modes\n");
    } else {
        std::printf("  modes:\n");
        int n = 0;
        for (QZ_Chain_Item* it = d->modes.first(); it != d->modes.end(); it = it->next, ++n) {
            const QZ_Rts::Mode* m = QZ_Rts::Mode::of(it);
            std::printf("    %2d  %-28s %6d Hz, %2d bit, %5d frames a block, %2d channels\n", n, m->name, m->rate,
                        m->bits, m->block, m->channels);
        }
    }
    std::printf("  inputs:");
    if (d->inputs.count == 0) std::printf(" none");
    const char* sep = " ";
    for (QZ_Chain_Item* it = d->inputs.first(); it != d->inputs.end(); it = it->next, sep = ", ")
        std::printf("%s%s", sep, QZ_Rts::Chan::of(it)->name);
    std::printf("\n  outputs: named when a mode starts (one per channel of the mode)\n");
    if (std::strcmp(d->name, QZ_wave_platform_name()) == 0 && *QZ_wave_platform_scheduling())
        std::printf("  scheduling: %s\n", QZ_wave_platform_scheduling());
    d->exit();
}
}  // namespace

int zelo_drivers_main(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "usage: zelo drivers\n");
        return 2;
    }
    const std::vector<QZ_Host::Driver_Class> classes = zelo_driver_classes();
    for (const QZ_Host::Driver_Class& c : classes) {
        const QZ_error r = c.init(&no_block);
        if (r != QZ_OK) std::fprintf(stderr, "zelo: a driver class cannot be set up: %s\n", r ? r : "unknown error");
    }
    if (QZ_Rts_instances.count == 0) std::printf("No audio drivers found\n");
    for (QZ_Chain_Item* it = QZ_Rts_instances.first(); it != QZ_Rts_instances.end(); it = it->next)
        list_driver(static_cast<QZ_Rts*>(it->data));
    for (const QZ_Host::Driver_Class& c : classes) c.exit();
    return 0;
}
