#include "module_exports.h"

#include <algorithm>
#include <cstring>

namespace pelcheck {
namespace {

// A mapped image, addressed by RVA with every read checked against its size.
class ImageView {
public:
    ImageView(const BYTE* base, size_t size) : m_base(base), m_size(size) {}

    template <class T>
    const T* At(DWORD rva, size_t count = 1) const {
        if (rva > m_size || count > (m_size - rva) / sizeof(T)) return nullptr;
        return reinterpret_cast<const T*>(m_base + rva);
    }
    // A NUL-terminated name that lies wholly inside the image.
    bool Name(DWORD rva, std::string* name) const {
        if (rva >= m_size) return false;
        const char* text = reinterpret_cast<const char*>(m_base + rva);
        const size_t length = strnlen(text, m_size - rva);
        if (length == m_size - rva) return false;
        name->assign(text, length);
        return true;
    }

private:
    const BYTE* m_base;
    size_t m_size;
};

class MappedImage {
public:
    explicit MappedImage(const std::wstring& path)
        : m_module(LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE)),
          m_error(m_module ? 0 : GetLastError()) {}
    ~MappedImage() {
        if (m_module) FreeLibrary(m_module);
    }
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;

    // The handle of a resource mapping carries flags in its low bits.
    const BYTE* Base() const {
        return reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(m_module) &
                                             ~static_cast<ULONG_PTR>(3));
    }
    bool Ok() const { return m_module != nullptr; }
    DWORD Error() const { return m_error; }

private:
    HMODULE m_module;
    DWORD m_error;
};

// Where the IMAGE_FILE_HEADER of the PE headers in `view` lies; 0 when they are not a PE's.
DWORD FileHeaderOffset(const ImageView& view) {
    const auto* dos = view.At<IMAGE_DOS_HEADER>(0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    const DWORD ntOffset = static_cast<DWORD>(dos->e_lfanew);
    const auto* signature = view.At<DWORD>(ntOffset);
    if (!signature || *signature != IMAGE_NT_SIGNATURE) return 0;
    const DWORD offset = ntOffset + sizeof(DWORD);
    return view.At<IMAGE_FILE_HEADER>(offset) ? offset : 0;
}

// The machine named in the file's headers, read straight from the file: used to explain
// why the system refused to map it.
WORD FileMachine(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BYTE head[4096] = {};
    DWORD read = 0;
    const BOOL ok = ReadFile(file, head, sizeof(head), &read, nullptr);
    CloseHandle(file);
    if (!ok) return 0;
    const ImageView view(head, read);
    const DWORD offset = FileHeaderOffset(view);
    return offset ? view.At<IMAGE_FILE_HEADER>(offset)->Machine : 0;
}

void ReadExports(const BYTE* base, ModuleImage* image) {
    const ImageView headers(base, 4096);
    const DWORD fileOffset = FileHeaderOffset(headers);
    if (!fileOffset) return;
    image->machine = headers.At<IMAGE_FILE_HEADER>(fileOffset)->Machine;

    const DWORD optionalOffset = fileOffset + sizeof(IMAGE_FILE_HEADER);
    const auto* magic = headers.At<WORD>(optionalOffset);
    if (!magic) return;
    DWORD imageSize = 0;
    IMAGE_DATA_DIRECTORY exportDir = {};
    if (*magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        const auto* opt = headers.At<IMAGE_OPTIONAL_HEADER32>(optionalOffset);
        if (!opt || opt->NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT) return;
        imageSize = opt->SizeOfImage;
        exportDir = opt->DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    } else if (*magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        const auto* opt = headers.At<IMAGE_OPTIONAL_HEADER64>(optionalOffset);
        if (!opt || opt->NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT) return;
        imageSize = opt->SizeOfImage;
        exportDir = opt->DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    } else {
        return;
    }
    if (exportDir.VirtualAddress == 0 || exportDir.Size == 0) return;

    const ImageView view(base, imageSize);
    const auto* dir = view.At<IMAGE_EXPORT_DIRECTORY>(exportDir.VirtualAddress);
    if (!dir) return;
    const auto* functions = view.At<DWORD>(dir->AddressOfFunctions, dir->NumberOfFunctions);
    if (functions) {
        for (DWORD i = 0; i < dir->NumberOfFunctions && dir->Base + i <= 0xFFFF; ++i) {
            if (functions[i] != 0) image->ordinals.push_back(static_cast<WORD>(dir->Base + i));
        }
    }
    const auto* names = view.At<DWORD>(dir->AddressOfNames, dir->NumberOfNames);
    if (names) {
        for (DWORD i = 0; i < dir->NumberOfNames; ++i) {
            std::string name;
            if (view.Name(names[i], &name)) image->names.push_back(name);
        }
    }
}

}  // namespace

bool ModuleImage::Exports(WORD ordinal) const {
    return ordinal != 0 && std::find(ordinals.begin(), ordinals.end(), ordinal) != ordinals.end();
}

bool ModuleImage::Exports(const char* name) const {
    return std::find(names.begin(), names.end(), name) != names.end();
}

ModuleImage InspectModule(const std::wstring& path) {
    ModuleImage image;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    image.exists =
        attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!image.exists) return image;
    const MappedImage mapped(path);
    if (!mapped.Ok()) {
        image.mapError = mapped.Error();
        image.machine = FileMachine(path);
        return image;
    }
    image.mapped = true;
    ReadExports(mapped.Base(), &image);
    return image;
}

WORD LoaderMachine() {
#if defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#elif defined(__i386__) || defined(_M_IX86)
    return IMAGE_FILE_MACHINE_I386;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#else
    return 0;
#endif
}

const wchar_t* MachineName(WORD machine) {
    switch (machine) {
        case IMAGE_FILE_MACHINE_I386:
            return L"x86 (32-bit)";
        case IMAGE_FILE_MACHINE_AMD64:
            return L"x64 (64-bit)";
        case IMAGE_FILE_MACHINE_ARM64:
            return L"ARM64";
        default:
            return L"unknown";
    }
}

}  // namespace pelcheck
