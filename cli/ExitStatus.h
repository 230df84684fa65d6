#pragma once

// flashupgrade's exit statuses; FlashUpgradeProgram says what each one means.
namespace ExitStatus {
constexpr int Done = 0;
constexpr int Failed = 1;
constexpr int Environment = 2;
constexpr int Incomplete = 3;
}  // namespace ExitStatus
