#include "archives/ArchiveTables.h"

namespace pictor {

std::vector<std::string_view> ArchiveEntryTable(TArchiverKind kind) {
    const bool lha = kind == TArchiverKind::Lha;
    std::vector<std::string_view> t = {"",         "CheckArchive", "OpenArchive",
                                       "CloseArchive", "FindFirst", "FindNext"};
    auto add = [&t](std::initializer_list<std::string_view> names) {
        t.insert(t.end(), names.begin(), names.end());
    };
    add({"GetVersion", "GetRunning", "GetBackGroundMode", "SetBackGroundMode", "GetCursorMode",
         "SetCursorMode", "GetCursorInterval", "SetCursorInterval"});
    add({"GetFileCount", "ConfigDialog", "QueryFunctionList", "ClearOwnerWindow",
         "SetOwnerWindow"});
    if (lha) add({"KillOwnerWindowEx", "SetOwnerWindowEx"});
    add({"GetArcFileName", "GetArcFileSize", "GetArcOriginalSize", "GetArcCompressedSize",
         "GetArcRatio", "GetArcDate", "GetArcTime", "GetArcOSType", "IsSFXFile"});
    if (lha) add({"GetArcWriteTimeEx", "GetArcCreateTimeEx", "GetArcAccessTimeEx"});
    add({"GetFileName", "GetOriginalSize", "GetCompressedSize", "GetRatio", "GetDate", "GetTime",
         "GetCRC", "GetAttribute", "GetOSType"});
    if (kind != TArchiverKind::Tar) add({"GetMethod", "GetWriteTime", "GetAccessTime", "GetCreateTime"});
    if (lha) add({"GetWriteTimeEx", "GetCreateTimeEx", "GetAccessTimeEx", "GetSubVersion"});
    return t;
}

} // namespace pictor
