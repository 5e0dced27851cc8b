#pragma once

#include "platform/unique_fd.h"

#include <dirent.h>

#include <memory>

namespace qvr {

struct FolderListingCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
// A folder being read with readdir(); closing it closes its descriptor too.
using FolderListing = std::unique_ptr<DIR, FolderListingCloser>;

// A listing of the folder open at `folder`, which it takes over; null when `folder`
// is invalid or not a folder. ::dirfd() of the listing serves the *at() calls.
[[nodiscard]] inline FolderListing listFolder(UniqueFd folder)
{
    FolderListing listing(folder ? ::fdopendir(folder.get()) : nullptr);
    if (listing)
        folder.release();
    return listing;
}

} // namespace qvr
