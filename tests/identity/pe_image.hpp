#pragma once

// Reads what Windows reads from an executable's headers, without loading it.

#include <windows.h>

#include <string>
#include <vector>

struct PeImage {
    WORD machine = 0;
    WORD optionalHeaderMagic = 0;
    WORD subsystem = 0;
    std::vector<std::string> importedDlls;
};

// Throws std::runtime_error when the file is not a well-formed 32-bit PE image.
PeImage ReadPeImage(const std::wstring& path);

// One node of a version block: its key and the keys of its children.
struct VersionNode {
    std::wstring key;
    std::size_t childrenBegin = 0;
    std::size_t end = 0;
};

// Nodes directly below parent (or the root node, for an empty parent) in a VS_VERSIONINFO block.
std::vector<VersionNode> VersionChildren(const std::vector<BYTE>& block,
                                         const VersionNode* parent = nullptr);
