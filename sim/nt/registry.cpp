#include "sim/nt/registry.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace quell::sim {

struct Registry::Key {
    std::u16string name;
    Key* parent = nullptr;
    std::map<std::u16string, std::unique_ptr<Key>> children;  // by folded name: NT's order
    std::map<std::u16string, std::pair<std::u16string, Value>> values;  // folded -> (name, value)
};

namespace {

constexpr std::u16string_view kRootName = u"\\Registry";

std::vector<std::u16string_view> Components(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    while (!path.empty()) {
        const auto cut = path.find(u'\\');
        const auto part = path.substr(0, cut);
        if (!part.empty()) parts.push_back(part);
        if (cut == std::u16string_view::npos) break;
        path.remove_prefix(cut + 1);
    }
    return parts;
}

std::u16string_view NameOf(const OBJECT_ATTRIBUTES* attributes) {
    if (attributes == nullptr || attributes->ObjectName == nullptr ||
        attributes->ObjectName->Buffer == nullptr) {
        return {};
    }
    return {attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(WCHAR)};
}

}  // namespace

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (auto& c : folded) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return folded;
}

Registry::Registry() : root_(std::make_unique<Key>()) { root_->name = u"REGISTRY"; }

Registry::~Registry() = default;

Registry::Key* Registry::Find(std::u16string_view path) const {
    const auto parts = Components(path);
    if (parts.empty() || FoldCase(parts[0]) != u"REGISTRY") return nullptr;
    Key* key = root_.get();
    for (std::size_t i = 1; i < parts.size() && key != nullptr; ++i) {
        const auto found = key->children.find(FoldCase(parts[i]));
        key = found == key->children.end() ? nullptr : found->second.get();
    }
    return key;
}

Registry::Key* Registry::FromHandle(HANDLE handle) const {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles_.end() ? nullptr : found->second;
}

std::u16string Registry::PathOf(const Key* key) const {
    std::u16string path;
    for (; key != nullptr && key != root_.get(); key = key->parent) {
        path = u"\\" + key->name + path;
    }
    return std::u16string(kRootName) + path;
}

HANDLE Registry::NewHandle(Key* key) {
    const std::uintptr_t value = next_handle_;
    next_handle_ += 4;
    handles_.emplace(value, key);
    return reinterpret_cast<HANDLE>(value);
}

void Registry::FailOperation(RegistryOperation operation, std::u16string_view path,
                             NTSTATUS status) {
    failures_[{operation, FoldCase(path)}] = status;
}

std::optional<NTSTATUS> Registry::InjectedFailure(RegistryOperation operation, const Key* key,
                                                  std::u16string_view path) const {
    const std::u16string where = key != nullptr ? FoldCase(PathOf(key)) : FoldCase(path);
    const auto found = failures_.find({operation, where});
    if (found == failures_.end()) return std::nullopt;
    return found->second;
}

void Registry::CreateKeyPath(std::u16string_view path) {
    const auto parts = Components(path);
    if (parts.empty() || FoldCase(parts[0]) != u"REGISTRY") {
        throw std::invalid_argument("registry paths start at \\Registry");
    }
    Key* key = root_.get();
    for (std::size_t i = 1; i < parts.size(); ++i) {
        auto& child = key->children[FoldCase(parts[i])];
        if (!child) {
            child = std::make_unique<Key>();
            child->name = std::u16string(parts[i]);
            child->parent = key;
        }
        key = child.get();
    }
}

void Registry::SetValue(std::u16string_view path, std::u16string_view name, ULONG type,
                        std::span<const std::byte> data) {
    CreateKeyPath(path);
    Key* key = Find(path);
    key->values[FoldCase(name)] = {std::u16string(name), Value{type, {data.begin(), data.end()}}};
}

void Registry::SetDword(std::u16string_view path, std::u16string_view name, ULONG value) {
    SetValue(path, name, REG_DWORD, std::as_bytes(std::span(&value, 1)));
}

bool Registry::KeyExists(std::u16string_view path) const { return Find(path) != nullptr; }

std::optional<Registry::Value> Registry::GetValue(std::u16string_view path,
                                                  std::u16string_view name) const {
    const Key* key = Find(path);
    if (key == nullptr) return std::nullopt;
    const auto found = key->values.find(FoldCase(name));
    if (found == key->values.end()) return std::nullopt;
    return found->second.second;
}

std::size_t Registry::ValueCount(std::u16string_view path) const {
    const Key* key = Find(path);
    return key == nullptr ? 0 : key->values.size();
}

std::vector<std::u16string> Registry::SubkeyNames(std::u16string_view path) const {
    std::vector<std::u16string> names;
    if (const Key* key = Find(path)) {
        for (const auto& [folded, child] : key->children) names.push_back(child->name);
    }
    return names;
}

NTSTATUS Registry::OpenKey(PHANDLE key, const OBJECT_ATTRIBUTES* attributes) {
    if (key == nullptr || attributes == nullptr ||
        attributes->Length != sizeof(OBJECT_ATTRIBUTES)) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto path = NameOf(attributes);
    if (auto failure = InjectedFailure(RegistryOperation::Open, nullptr, path)) return *failure;
    Key* found = Find(path);
    if (found == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    *key = NewHandle(found);
    return STATUS_SUCCESS;
}

NTSTATUS Registry::CreateKey(PHANDLE key, const OBJECT_ATTRIBUTES* attributes, PULONG disposition) {
    if (key == nullptr || attributes == nullptr ||
        attributes->Length != sizeof(OBJECT_ATTRIBUTES)) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto path = NameOf(attributes);
    if (auto failure = InjectedFailure(RegistryOperation::Create, nullptr, path)) return *failure;
    if (Key* existing = Find(path)) {
        *key = NewHandle(existing);
        if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
        return STATUS_SUCCESS;
    }
    // Only the last component is created: its parent must exist.
    const auto cut = path.find_last_of(u'\\');
    if (cut == std::u16string_view::npos || cut + 1 == path.size()) {
        return STATUS_OBJECT_NAME_INVALID;
    }
    Key* parent = Find(path.substr(0, cut));
    if (parent == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    const auto name = path.substr(cut + 1);
    auto child = std::make_unique<Key>();
    child->name = std::u16string(name);
    child->parent = parent;
    Key* created = child.get();
    parent->children.emplace(FoldCase(name), std::move(child));
    *key = NewHandle(created);
    if (disposition != nullptr) *disposition = REG_CREATED_NEW_KEY;
    return STATUS_SUCCESS;
}

NTSTATUS Registry::Close(HANDLE key) {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == handles_.end()) return STATUS_INVALID_HANDLE;
    if (auto failure = InjectedFailure(RegistryOperation::Close, found->second, {})) {
        return *failure;
    }
    handles_.erase(found);
    return STATUS_SUCCESS;
}

NTSTATUS Registry::SetValueKey(HANDLE handle, const UNICODE_STRING* name, ULONG type,
                               const void* data, ULONG size) {
    Key* key = FromHandle(handle);
    if (key == nullptr) return STATUS_INVALID_HANDLE;
    if (name == nullptr || (size != 0 && data == nullptr)) return STATUS_INVALID_PARAMETER;
    if (auto failure = InjectedFailure(RegistryOperation::SetValue, key, {})) return *failure;
    const std::u16string_view value_name(name->Buffer, name->Length / sizeof(WCHAR));
    const auto* bytes = static_cast<const std::byte*>(data);
    key->values[FoldCase(value_name)] = {std::u16string(value_name),
                                         Value{type, {bytes, bytes + size}}};
    return STATUS_SUCCESS;
}

NTSTATUS Registry::QueryKey(HANDLE handle, KEY_INFORMATION_CLASS information_class, void* buffer,
                            ULONG length, PULONG result_length) {
    Key* key = FromHandle(handle);
    if (key == nullptr) return STATUS_INVALID_HANDLE;
    if (result_length == nullptr) return STATUS_INVALID_PARAMETER;
    if (auto failure = InjectedFailure(RegistryOperation::QueryKey, key, {})) return *failure;
    if (information_class != KeyFullInformation) return STATUS_INVALID_PARAMETER;

    KEY_FULL_INFORMATION info{};
    info.ClassOffset = offsetof(KEY_FULL_INFORMATION, Class);
    info.SubKeys = static_cast<ULONG>(key->children.size());
    info.Values = static_cast<ULONG>(key->values.size());
    for (const auto& [folded, child] : key->children) {
        info.MaxNameLen = std::max<ULONG>(info.MaxNameLen, child->name.size() * sizeof(WCHAR));
    }
    for (const auto& [folded, entry] : key->values) {
        info.MaxValueNameLen =
            std::max<ULONG>(info.MaxValueNameLen, entry.first.size() * sizeof(WCHAR));
        info.MaxValueDataLen = std::max<ULONG>(info.MaxValueDataLen, entry.second.data.size());
    }
    const ULONG needed = offsetof(KEY_FULL_INFORMATION, Class);
    *result_length = needed;
    if (buffer == nullptr || length < needed) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(buffer, &info, needed);
    return STATUS_SUCCESS;
}

NTSTATUS Registry::EnumerateKey(HANDLE handle, ULONG index, KEY_INFORMATION_CLASS information_class,
                                void* buffer, ULONG length, PULONG result_length) {
    Key* key = FromHandle(handle);
    if (key == nullptr) return STATUS_INVALID_HANDLE;
    if (result_length == nullptr) return STATUS_INVALID_PARAMETER;
    if (auto failure = InjectedFailure(RegistryOperation::EnumerateKey, key, {})) return *failure;
    if (information_class != KeyBasicInformation) return STATUS_INVALID_PARAMETER;
    if (index >= key->children.size()) return STATUS_NO_MORE_ENTRIES;

    const Key& child = *std::next(key->children.begin(), index)->second;
    const ULONG fixed = offsetof(KEY_BASIC_INFORMATION, Name);
    const ULONG name_bytes = static_cast<ULONG>(child.name.size() * sizeof(WCHAR));
    *result_length = fixed + name_bytes;
    if (buffer == nullptr || length < fixed) return STATUS_BUFFER_TOO_SMALL;

    KEY_BASIC_INFORMATION header{};
    header.NameLength = name_bytes;
    std::memcpy(buffer, &header, fixed);
    // As the kernel does, a name that does not fit is cut and the call reports an overflow.
    const ULONG copied = std::min(name_bytes, length - fixed);
    std::memcpy(static_cast<std::byte*>(buffer) + fixed, child.name.data(), copied);
    return copied < name_bytes ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

}  // namespace quell::sim
