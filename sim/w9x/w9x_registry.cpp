#include "sim/w9x/w9x_registry.h"

#include <algorithm>
#include <cstring>

namespace quell::sim {
namespace {

std::string Fold(std::string_view text) {
    std::string folded(text);
    for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

std::vector<std::string_view> Components(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('\\');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

}  // namespace

struct W9xRegistry::Key {
    std::string name;
    Key* parent = nullptr;
    std::vector<std::unique_ptr<Key>> subkeys;  // in creation order
    std::map<std::string, Value> values;        // by folded name

    Key* Child(std::string_view child) const {
        const std::string folded = Fold(child);
        for (const auto& key : subkeys) {
            if (Fold(key->name) == folded) return key.get();
        }
        return nullptr;
    }
};

W9xRegistry::W9xRegistry() : root_(std::make_unique<Key>()) {}
W9xRegistry::~W9xRegistry() = default;

void W9xRegistry::CreateKeyPath(std::string_view path) {
    Key* key = root_.get();
    for (const std::string_view part : Components(path)) {
        Key* child = key->Child(part);
        if (child == nullptr) {
            key->subkeys.push_back(std::make_unique<Key>());
            child = key->subkeys.back().get();
            child->name = std::string(part);
            child->parent = key;
        }
        key = child;
    }
}

W9xRegistry::Key* W9xRegistry::Find(std::string_view path) const {
    Key* key = root_.get();
    for (const std::string_view part : Components(path)) {
        key = key->Child(part);
        if (key == nullptr) return nullptr;
    }
    return key;
}

bool W9xRegistry::KeyExists(std::string_view path) const { return Find(path) != nullptr; }

std::optional<W9xRegistry::Value> W9xRegistry::GetValue(std::string_view path,
                                                        std::string_view name) const {
    const Key* key = Find(path);
    if (key == nullptr) return std::nullopt;
    const auto found = key->values.find(Fold(name));
    if (found == key->values.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> W9xRegistry::SubkeyNames(std::string_view path) const {
    std::vector<std::string> names;
    if (const Key* key = Find(path)) {
        for (const auto& subkey : key->subkeys) names.push_back(subkey->name);
    }
    return names;
}

std::string W9xRegistry::PathOf(const Key* key) const {
    std::string path;
    for (; key != nullptr && key != root_.get(); key = key->parent) {
        path = path.empty() ? key->name : key->name + "\\" + path;
    }
    return Fold(path);
}

void W9xRegistry::FailOperation(W9xRegistryOperation operation, std::string_view path) {
    std::string canonical;
    for (const std::string_view part : Components(path)) {
        canonical += canonical.empty() ? std::string(part) : "\\" + std::string(part);
    }
    failures_.insert({operation, Fold(canonical)});
}

bool W9xRegistry::Fails(W9xRegistryOperation operation, const Key* key) const {
    return failures_.contains({operation, PathOf(key)});
}

W9xRegistry::Key* W9xRegistry::FromHandle(ULONG handle) const {
    const auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : found->second;
}

ULONG W9xRegistry::OpenKey(ULONG root, const char* path, ULONG* key) {
    if (root != VXD_HKEY_LOCAL_MACHINE || path == nullptr || key == nullptr) {
        return VMM_ERROR_FILE_NOT_FOUND;
    }
    Key* found = Find(path);
    if (found == nullptr || Fails(W9xRegistryOperation::Open, found)) {
        return VMM_ERROR_FILE_NOT_FOUND;
    }
    const ULONG handle = next_handle_++;
    handles_[handle] = found;
    *key = handle;
    return VMM_ERROR_SUCCESS;
}

ULONG W9xRegistry::CloseKey(ULONG key) {
    return handles_.erase(key) != 0 ? VMM_ERROR_SUCCESS : VMM_ERROR_FILE_NOT_FOUND;
}

ULONG W9xRegistry::EnumerateKey(ULONG key, ULONG index, char* name, ULONG size) const {
    const Key* found = FromHandle(key);
    if (found == nullptr || name == nullptr) return VMM_ERROR_FILE_NOT_FOUND;
    if (Fails(W9xRegistryOperation::EnumerateKey, found)) return VMM_ERROR_FILE_NOT_FOUND;
    if (index >= found->subkeys.size()) return VMM_ERROR_NO_MORE_ITEMS;
    const std::string& subkey = found->subkeys[index]->name;
    if (subkey.size() + 1 > size) return VMM_ERROR_MORE_DATA;
    std::memcpy(name, subkey.c_str(), subkey.size() + 1);
    return VMM_ERROR_SUCCESS;
}

ULONG W9xRegistry::QuerySubkeyCount(ULONG key, ULONG* count) const {
    const Key* found = FromHandle(key);
    if (found == nullptr) return VMM_ERROR_FILE_NOT_FOUND;
    if (Fails(W9xRegistryOperation::QueryInfo, found)) return VMM_ERROR_FILE_NOT_FOUND;
    if (count != nullptr) *count = static_cast<ULONG>(found->subkeys.size());
    return VMM_ERROR_SUCCESS;
}

ULONG W9xRegistry::SetValue(ULONG key, const char* name, ULONG type, const void* data, ULONG size) {
    Key* found = FromHandle(key);
    if (found == nullptr || name == nullptr || (data == nullptr && size != 0)) {
        return VMM_ERROR_FILE_NOT_FOUND;
    }
    if (Fails(W9xRegistryOperation::SetValue, found)) return VMM_ERROR_FILE_NOT_FOUND;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    found->values[Fold(name)] = Value{type, {bytes, bytes + size}};
    return VMM_ERROR_SUCCESS;
}

}  // namespace quell::sim
