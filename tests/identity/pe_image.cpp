#include "pe_image.hpp"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

template <class T> T At(const std::vector<BYTE>& bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        throw std::runtime_error("truncated image");
    }
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::size_t FileOffset(const std::vector<BYTE>& file, std::size_t sectionsAt, WORD sections,
                       DWORD rva) {
    for (WORD i = 0; i < sections; ++i) {
        const auto section =
            At<IMAGE_SECTION_HEADER>(file, sectionsAt + i * sizeof(IMAGE_SECTION_HEADER));
        if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
            return rva - section.VirtualAddress + section.PointerToRawData;
        }
    }
    throw std::runtime_error("address outside every section");
}

std::size_t Aligned(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

} // namespace

PeImage ReadPeImage(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    const std::vector<BYTE> file{std::istreambuf_iterator<char>(in), {}};
    const auto dos = At<IMAGE_DOS_HEADER>(file, 0);
    const auto nt = At<IMAGE_NT_HEADERS32>(file, static_cast<std::size_t>(dos.e_lfanew));
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || nt.Signature != IMAGE_NT_SIGNATURE) {
        throw std::runtime_error("not a PE image");
    }
    PeImage image{nt.FileHeader.Machine, nt.OptionalHeader.Magic, nt.OptionalHeader.Subsystem, {}};

    const std::size_t sectionsAt = static_cast<std::size_t>(dos.e_lfanew) + sizeof(DWORD) +
                                   sizeof(IMAGE_FILE_HEADER) + nt.FileHeader.SizeOfOptionalHeader;
    const WORD sections = nt.FileHeader.NumberOfSections;
    const DWORD importsRva =
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    if (importsRva == 0) {
        return image;
    }
    for (std::size_t at = FileOffset(file, sectionsAt, sections, importsRva);;
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto descriptor = At<IMAGE_IMPORT_DESCRIPTOR>(file, at);
        if (descriptor.Name == 0) {
            break;
        }
        std::string name;
        for (auto c = FileOffset(file, sectionsAt, sections, descriptor.Name); file.at(c) != 0;
             ++c) {
            name.push_back(static_cast<char>(file[c]));
        }
        image.importedDlls.push_back(name);
    }
    return image;
}

std::vector<VersionNode> VersionChildren(const std::vector<BYTE>& block,
                                         const VersionNode* parent) {
    const auto node = [&block](std::size_t at) {
        const auto length = At<WORD>(block, at);
        const auto valueLength = At<WORD>(block, at + 2);
        const auto isText = At<WORD>(block, at + 4) == 1;
        VersionNode read;
        std::size_t p = at + 6;
        for (auto unit = At<wchar_t>(block, p); unit != L'\0'; unit = At<wchar_t>(block, p)) {
            read.key.push_back(unit);
            p += sizeof(wchar_t);
        }
        p = Aligned(p + sizeof(wchar_t));
        read.childrenBegin = Aligned(p + (isText ? valueLength * sizeof(wchar_t) : valueLength));
        read.end = at + length;
        return read;
    };
    if (parent == nullptr) {
        return {node(0)};
    }
    std::vector<VersionNode> children;
    for (std::size_t at = parent->childrenBegin; at < parent->end;
         at = Aligned(children.back().end)) {
        children.push_back(node(at));
    }
    return children;
}
