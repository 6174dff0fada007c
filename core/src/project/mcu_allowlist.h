// The bare-metal target triples a "no_std" target may name, in the order the
// "targets" command reports them.
#ifndef VELKOR_PROJECT_MCU_ALLOWLIST_H_
#define VELKOR_PROJECT_MCU_ALLOWLIST_H_

#include <array>
#include <string_view>

namespace velkor {

inline constexpr std::array<std::string_view, 7> kMcuAllowlist = {
    "thumbv6m-none-eabi",      "thumbv7m-none-eabi",        "thumbv7em-none-eabi",
    "thumbv7em-none-eabihf",   "thumbv8m.main-none-eabi",   "thumbv8m.main-none-eabihf",
    "riscv32imac-unknown-none-elf",
};

}  // namespace velkor

#endif  // VELKOR_PROJECT_MCU_ALLOWLIST_H_
