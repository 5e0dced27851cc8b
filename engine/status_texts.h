#pragma once

#include <array>

namespace qvr {

// What the window's status box says besides a track's title. Each fits the box whole
// at the window's size: a cut text says nothing.
inline constexpr const char* kNoFilesInQueue = "No Files in Queue";
inline constexpr const char* kDownloadingPaused = "Downloading Paused";
inline constexpr const char* kDownloadFolderUnavailable = "Folder Unavailable";
inline constexpr const char* kDownloadFolderFull = "Download Folder Full";
inline constexpr const char* kNetworkError = "Network Error";
inline constexpr const char* kInvalidAddress = "Invalid Address";
inline constexpr const char* kStoreBusy = "Store Busy";
inline constexpr const char* kTrackFileBusy = "Track File in Use";
// Every track left waits out a pause after a failure of its own.
inline constexpr const char* kWaitingToRetry = "Waiting to Retry";

inline constexpr std::array kStatusTexts {kNoFilesInQueue, kDownloadingPaused, kDownloadFolderUnavailable,
                                          kDownloadFolderFull,  kNetworkError,       kInvalidAddress,
                                          kStoreBusy,           kTrackFileBusy,      kWaitingToRetry};

} // namespace qvr
