#pragma once

namespace spindle {

// Command identifiers: the identities of the bar buttons and menu entries.
namespace cmd {
inline constexpr int kRefreshTree = 1076;
inline constexpr int kGetAllValues = 1077;
inline constexpr int kSaveAllValues = 1078;
inline constexpr int kProgram = 1079;
inline constexpr int kProgramFpga = 1080;
inline constexpr int kCalibrate = 1081;
inline constexpr int kZephyrCalFile = 1082;
inline constexpr int kExtraKestrel = 1083;
inline constexpr int kPsocDiags = 1084;
inline constexpr int kIbisExtra = 1085;
inline constexpr int kVerify = 1007;
inline constexpr int kResetCoefs = 1031;
inline constexpr int kLinearityCoefs = 1032;
inline constexpr int kUnlockFeatures = 32774;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
}  // namespace cmd

// Bars, by id.
namespace bar {
inline constexpr int kMain = 103;           // dialog 102, saved as "MainBars"
inline constexpr int kManufacturing = 106;  // dialog 105, saved as "ManufacturingBars"
}  // namespace bar

// Frame timers.
namespace timer {
inline constexpr int kEepromCountdown = 999;
inline constexpr int kFpgaCountdown = 998;
inline constexpr unsigned kPeriodMs = 1000;
}  // namespace timer

}  // namespace spindle
