// The bare-metal target triples a "no_std" target may name, in the order the
// "targets" command reports them, and the check of a target against them.
#ifndef VELKOR_PROJECT_MCU_ALLOWLIST_H_
#define VELKOR_PROJECT_MCU_ALLOWLIST_H_

#include <array>
#include <expected>
#include <string_view>

#include "request/compile_spec.h"
#include "support/compile_error.h"

namespace velkor {

inline constexpr std::array<std::string_view, 7> kMcuAllowlist = {
    "thumbv6m-none-eabi",      "thumbv7m-none-eabi",        "thumbv7em-none-eabi",
    "thumbv7em-none-eabihf",   "thumbv8m.main-none-eabi",   "thumbv8m.main-none-eabihf",
    "riscv32imac-unknown-none-elf",
};

namespace project {

// Succeeds for wasm and binary targets and for a no_std target whose mcu is in
// the allowlist (byte-exact); otherwise a BadTarget error quoting the mcu in
// debug form.
std::expected<void, CompileError> check_mcu(const Target& target);

}  // namespace project
}  // namespace velkor

#endif  // VELKOR_PROJECT_MCU_ALLOWLIST_H_
