#pragma once
// The one table of log colours, for every window that writes into the console's log.
#include <cstdint>

// Log colours: plain RGB as 0x00BBGGRR, or a system colour reference 0xFF0000nn.
namespace LogColours {
inline constexpr uint32_t Teal = 0x808000;   // transmitted lines
inline constexpr uint32_t Maroon = 0x000080; // received lines
inline constexpr uint32_t Blue = 0xFF0000;   // status and information
inline constexpr uint32_t Red = 0x0000FF;    // errors and failures
inline constexpr uint32_t SystemReference = 0xFF000000;
inline constexpr uint32_t WindowText = SystemReference | 8;

// What each kind of line is written in.
inline constexpr uint32_t Tx = Teal;
inline constexpr uint32_t Rx = Maroon;
inline constexpr uint32_t Status = Blue;
inline constexpr uint32_t Error = Red;
} // namespace LogColours
