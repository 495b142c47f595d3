// SizeText.h - size text of the status line and disk-size helpers.
//
// FormatSize turns a byte count into the short text of the status line; the
// unit is chosen by decimal thresholds and the number divided by powers of
// 1024, so 1000..1023 bytes read "0 kB" and 1000000000 bytes read "0.93 GB".
//
// The disk-size helpers measure what an add command is about to read, to set
// the progress bar's range. Sums are 32-bit and wrap (the bar's range is
// 32-bit). They report no errors: whatever cannot be opened or listed counts
// 0. Folders are measured with the same disk walk that adding a folder uses
// (platform/FolderWalk.h): links to folders are followed except cycles.
// FolderDiskSize leaves out names beginning with "." as AddFolder does;
// PathDiskSize, which measures dropped items, counts them. Files of 4 GiB or
// more count 0, since they cannot be added.
#pragma once

#include <cstdint>
#include <string>

namespace crateforge {

// "%u B" below 1000, "%u kB" (size >> 10) below 1000000, "%3.1f MB" below
// 1000000000, else "%3.2f GB".
std::string FormatSize(std::uint32_t size);

// Length of the regular file at `path`; 0 when it cannot be opened or is not
// a regular file.
std::uint32_t FileDiskSize(const std::string& path);

// Total bytes of the files the folder walk visits below the folder, names
// beginning with "." left out (what AddFolder reads). Sizes come from the
// listing.
std::uint32_t FolderDiskSize(const std::string& path);

// For a folder (or a link to one) the same with names beginning with "."
// counted; else FileDiskSize. A missing path counts 0.
std::uint32_t PathDiskSize(const std::string& path);

}  // namespace crateforge
