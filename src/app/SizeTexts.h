#pragma once

// The size texts of the main window's status bar and preview panel.

#include <cstdint>
#include <string>

namespace pictor {

// "1,000KB (空ディスク領域 :250MB)": the folder's total (KB rounded half to even below 1024 KB,
// MB with two decimals above) and the free space of its volume.
std::string FolderSizeText(std::uint64_t totalSize, std::uint64_t freeSpace);
// "1023バイト", "1.5KB", "19.5KB", "195KB", "3MB": the byte total of a selection.
std::string SelectionSizeText(std::uint64_t selSize);
// "%d 個のオブジェクト" and "%d 個のオブジェクトを選択".
std::string ObjectCountText(int count);
std::string SelectedCountText(int count);

} // namespace pictor
