// platform/host/file_system.cpp: the file system object ("Scripting.FileSystemObject"): FileExists
// is true for a regular file (or a link to one) only.

#include "platform/host/file_system.h"

#include <filesystem>
#include <system_error>

#include "platform/host/host.h"

namespace host {

std::string fileSystemPath(std::string_view path) {
    std::string out(path);
    for (auto& c : out)
        if (c == '\\') c = '/';
    return out;
}

namespace {

class FileSystemObject : public ComObject<IFileSystemObject> {
public:
    HRESULT raw_FileExists(BSTR path, VARIANT_BOOL* exists) override {
        return comGuard([&] {
            if (!exists) return E_POINTER;
            const std::string p = fileSystemPath(toUtf8(path ? std::wstring_view(path, SysStringLen(path))
                                                             : std::wstring_view()));
            std::error_code ec;
            *exists = !p.empty() && std::filesystem::is_regular_file(p, ec) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
};

const ComClassRegistrar registerFso(CLSID_FileSystemObject, "Scripting.FileSystemObject",
                                    &createComInstance<FileSystemObject>);

}  // namespace
}  // namespace host
