#pragma once

// Texts of the shell browsing controls.

namespace pictor::ShellText {

inline constexpr const char* Desktop = "デスクトップ";
inline constexpr const char* Home = "ホーム";
inline constexpr const char* Computer = "コンピュータ";
inline constexpr const char* Trash = "ゴミ箱";
inline constexpr const char* Network = "ネットワーク";
inline constexpr const char* FileSystemRoot = "ファイルシステム";
inline constexpr const char* SystemFolder = "システム フォルダー";
inline constexpr const char* VolumeType = "ボリューム";

// Detail columns, by column number.
inline constexpr const char* ColumnCaptions[5] = {"名前", "サイズ", "ファイルの種類", "更新日時",
                                                  "属性"};

} // namespace pictor::ShellText
