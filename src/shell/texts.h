#pragma once
// Fixed texts of the main window and the program's addresses.

inline constexpr char kAppTitle[] = "Lanternquest";
inline constexpr char kNoPatternCaption[] = "Enter file mask";
inline constexpr char kExitQuestion[] = "Search in process, do you want stop search and exit?";
inline constexpr char kExitCaption[] = "Exit";
inline constexpr char kActiveThreadsPanel[] = "Active threads: ";
inline constexpr char kResultsPanel[] = "Results: ";
// The desktop notification of a search that ended out of sight.
inline constexpr char kSearchCompleteTitle[] = "Search complete";

// The maker's web site and mail addresses.
inline constexpr char kHomePageUrl[] = "https://www.orvantis.example/lanternquest/";
inline constexpr char kBugReportAddress[] = "bugs@orvantis.example";
inline constexpr char kInfoRequestAddress[] = "support@orvantis.example";
