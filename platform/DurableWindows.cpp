#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/Durable.h"

namespace platform {

namespace {

// Names are UTF-8 in this program. One that is not valid UTF-8 came from
// the ANSI code page (a command line read through the A functions, as the
// rest of this layer reads it) and is taken in that one.
std::wstring wide(const std::string& text) {
    for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (length > 0 || text.empty()) {
            std::wstring converted(static_cast<std::size_t>(length), L'\0');
            MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), converted.data(), length);
            return converted;
        }
    }
    return {};
}

std::string utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string converted(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.data(), length, nullptr, nullptr);
    converted.pop_back();
    return converted;
}

std::string reasonOf(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
        // The API takes the address of the pointer in place of the buffer.
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? utf8(text) : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

HANDLE asHandle(std::intptr_t handle) {
    // A HANDLE kept as an integer, as the other files keep theirs.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t asInteger(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Each missing folder on the way to `path` is made, as far as it can be;
// whether the whole path then is a folder decides. The first parts of a
// path (a drive, a share) cannot be made and need not be.
bool makeFolders(const std::string& path, std::string& problem) {
    if (path.empty()) {
        problem = "\"\" names no folder";
        return false;
    }
    if (isReservedWindowsName(path)) {
        problem = reservedWindowsNameProblem(path).text;
        return false;
    }
    const std::wstring name = wide(path);
    DWORD error = ERROR_SUCCESS;
    for (std::size_t end = 1; end <= name.size(); ++end) {
        if (end == name.size() || isSeparator(name[end])) {
            if (CreateDirectoryW(name.substr(0, end).c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
                error = GetLastError();
            }
        }
    }
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        problem = "cannot create the folder " + path + ": " + reasonOf(error != ERROR_SUCCESS ? error : GetLastError());
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        problem = path + " is a file, not a folder: give another name";
        return false;
    }
    return true;
}

// Refuses what a handle stands for unless it is a regular file itself (not
// a folder, a device or a symbolic link, which FILE_FLAG_OPEN_REPARSE_POINT
// opened as it is). Closes the handle when it refuses.
bool isRegular(HANDLE file, const std::string& path, FileProblem& problem) {
    BY_HANDLE_FILE_INFORMATION information{};
    const char* kind = nullptr;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        kind = "a device";
    } else if (GetFileInformationByHandle(file, &information) == 0) {
        problem = {FileFault::System, "cannot open " + path + ": " + reasonOf(GetLastError())};
        CloseHandle(file);
        return false;
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind = "a folder";
    } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        kind = "a symbolic link";
    }
    if (kind != nullptr) {
        problem = {FileFault::Unsuitable, path + " is " + kind + ", not a regular file"};
        CloseHandle(file);
        return false;
    }
    return true;
}

// An existing regular file itself, never what a link leads to.
HANDLE openRegular(const std::string& path, DWORD access, DWORD sharing, FileProblem& problem) {
    if (isReservedWindowsName(path)) {
        problem = reservedWindowsNameProblem(path);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(wide(path).c_str(), access, sharing, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = {FileFault::System, "cannot open " + path + ": " + reasonOf(GetLastError())};
        return INVALID_HANDLE_VALUE;
    }
    return isRegular(file, path, problem) ? file : INVALID_HANDLE_VALUE;
}

// Appends only; flushing needs no more than that.
constexpr DWORD appendAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

}  // namespace

std::optional<std::string> stateFolder(std::string& problem) {
    std::string base;
    PWSTR known = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &known) == S_OK) {
        base = utf8(known);
    }
    CoTaskMemFree(known);
    if (base.empty()) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): read by the one thread there is
        if (const wchar_t* variable = _wgetenv(L"LOCALAPPDATA"); variable != nullptr) {
            base = utf8(variable);
        }
    }
    if (base.empty()) {
        problem =
            "Windows names no local application data folder, and LOCALAPPDATA is not set, so there is no "
            "folder for flashlock's state: set LOCALAPPDATA to a folder";
        return std::nullopt;
    }
    if (base.back() != '\\' && base.back() != '/') {
        base += '\\';
    }
    std::string folder = base + "flashlock";
    if (!makeFolders(folder, problem)) {
        problem = "no folder for flashlock's state: " + problem;
        return std::nullopt;
    }
    return folder;
}

bool ensureFolder(const std::string& path, std::string& problem) {
    return makeFolders(path, problem);
}

DurableFile::~DurableFile() {
    close();
}

void DurableFile::close() {
    if (handle != closed) {
        // What matters was flushed; what was not is lost with or without this.
        CloseHandle(asHandle(std::exchange(handle, closed)));
    }
    folderPending = false;
}

DurableFile DurableFile::create(const std::string& path, FileProblem& problem) {
    if (isReservedWindowsName(path)) {
        problem = reservedWindowsNameProblem(path);
        return {};
    }
    // CREATE_NEW refuses anything under the name, a link to nothing included.
    HANDLE created = CreateFileW(wide(path).c_str(), appendAccess, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (created == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        problem = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                      ? FileProblem{FileFault::Exists, path + " exists"}
                      : FileProblem{FileFault::System, "cannot create " + path + ": " + reasonOf(error)};
        return {};
    }
    DurableFile file;
    file.handle = asInteger(created);
    file.filePath = path;
    // NTFS records the new name in its own log, which the file's flush
    // writes out: there is no folder to flush.
    file.folderPending = false;
    return file;
}

DurableFile DurableFile::openForAppend(const std::string& path, FileProblem& problem) {
    HANDLE opened = openRegular(path, appendAccess, FILE_SHARE_READ, problem);
    if (opened == INVALID_HANDLE_VALUE) {
        return {};
    }
    DurableFile file;
    file.handle = asInteger(opened);
    file.filePath = path;
    return file;
}

bool DurableFile::append(const std::uint8_t* data, std::size_t size, FileProblem& problem) {
    if (handle == closed) {
        problem = {FileFault::System, "cannot write: no file is open"};
        return false;
    }
    while (size > 0) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 20U));
        DWORD written = 0;
        if (WriteFile(asHandle(handle), data, piece, &written, nullptr) == 0) {
            problem = {FileFault::System, "cannot write " + filePath + ": " + reasonOf(GetLastError())};
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool DurableFile::sync(FileProblem& problem, bool /*withName*/) {
    if (handle == closed) {
        problem = {FileFault::System, "cannot flush to the disk: no file is open"};
        return false;
    }
    if (FlushFileBuffers(asHandle(handle)) == 0) {
        problem = {FileFault::System, "cannot flush " + filePath + " to the disk: " + reasonOf(GetLastError())};
        return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::uint64_t limit,
                                                       FileProblem& problem) {
    // Shared with a writer that still has it open.
    HANDLE file = openRegular(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, problem);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) == 0 || static_cast<std::uint64_t>(size.QuadPart) > limit ||
        static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX / 2) {
        problem = {FileFault::Unsuitable,
                   path + " is larger than " + std::to_string(limit) + " bytes, more than it can be: remove it"};
        CloseHandle(file);
        return std::nullopt;
    }
    // One byte more than the size, to find the end (or a file that grew).
    std::vector<std::uint8_t> data(static_cast<std::size_t>(size.QuadPart) + 1);
    std::size_t done = 0;
    for (;;) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1U << 20U));
        DWORD count = 0;
        if (ReadFile(file, data.data() + done, piece, &count, nullptr) == 0) {
            problem = {FileFault::System, "cannot read " + path + ": " + reasonOf(GetLastError())};
            CloseHandle(file);
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        done += count;
        if (done == data.size()) {
            if (done > limit) {
                problem = {FileFault::Unsuitable, path + " is larger than " + std::to_string(limit) +
                                                      " bytes, more than it can be: remove it"};
                CloseHandle(file);
                return std::nullopt;
            }
            const std::uint64_t grown = done + (done / 2) + 4096;
            data.resize(static_cast<std::size_t>(grown > limit ? limit + 1 : grown));
        }
    }
    CloseHandle(file);
    data.resize(done);
    return data;
}

bool replaceDurably(const std::string& path, const std::vector<std::uint8_t>& data, FileProblem& problem) {
    const std::string pending = path + ".new";
    // What a run cut short left there is of no use: the name it held was
    // never given to it.
    if (DeleteFileW(wide(pending).c_str()) == 0) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            problem = {FileFault::System, "cannot remove " + pending + ": " + reasonOf(error)};
            return false;
        }
    }
    {
        DurableFile file = DurableFile::create(pending, problem);
        if (!file.isOpen()) {
            return false;
        }
        if (!file.append(data.data(), data.size(), problem) || !file.sync(problem, false)) {
            DeleteFileW(wide(pending).c_str());
            return false;
        }
    }
    // Write-through: the rename is on the disk when the call returns.
    if (MoveFileExW(wide(pending).c_str(), wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0) {
        problem = {FileFault::System, "cannot rename " + pending + " to " + path + ": " + reasonOf(GetLastError())};
        DeleteFileW(wide(pending).c_str());
        return false;
    }
    return true;
}

bool removeDurably(const std::string& path, FileProblem& problem) {
    // NTFS puts the removal in its own log, which it writes out within
    // seconds; flushing a folder takes administrator rights on Windows, so
    // a power cut in those seconds may bring the file back.
    if (DeleteFileW(wide(path).c_str()) == 0) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return true;
        }
        problem = {FileFault::System, "cannot remove " + path + ": " + reasonOf(error)};
        return false;
    }
    return true;
}

std::vector<std::string> listFiles(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> paths;
    const std::string separated =
        folder.empty() || folder.back() == '\\' || folder.back() == '/' ? folder : folder + "\\";
    WIN32_FIND_DATAW found{};
    HANDLE listing =
        FindFirstFileExW(wide(separated + "*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE) {
        return paths;
    }
    do {
        const std::string name = utf8(found.cFileName);
        if (name.starts_with(prefix) &&
            (found.dwFileAttributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0) {
            paths.push_back(separated + name);
        }
    } while (FindNextFileW(listing, &found) != 0);
    FindClose(listing);
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace platform
