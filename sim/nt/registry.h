// The NT registry: a tree of keys with typed values, names compared without regard to case,
// reached through handles with the semantics of the Zw routines. Tests set it up and inspect
// it by path; a test can make any operation fail on a chosen key.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/ntkernel.h"

namespace quell::sim {

enum class RegistryOperation { Open, Create, Close, SetValue, QueryKey, EnumerateKey };

class Registry {
public:
    struct Value {
        ULONG type = REG_NONE;
        std::vector<std::byte> data;
    };

    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // ---- set-up and inspection; paths are absolute, as "\Registry\Machine\System\..." ----
    void CreateKeyPath(std::u16string_view path);  // creates every missing component
    void SetValue(std::u16string_view path, std::u16string_view name, ULONG type,
                  std::span<const std::byte> data);
    void SetDword(std::u16string_view path, std::u16string_view name, ULONG value);
    bool KeyExists(std::u16string_view path) const;
    std::optional<Value> GetValue(std::u16string_view path, std::u16string_view name) const;
    std::size_t ValueCount(std::u16string_view path) const;
    std::vector<std::u16string> SubkeyNames(std::u16string_view path) const;
    std::size_t OpenHandleCount() const { return handles_.size(); }

    // From now on every operation of this kind on the key at path fails with status.
    void FailOperation(RegistryOperation operation, std::u16string_view path, NTSTATUS status);

    // ---- the Zw routines ----
    NTSTATUS OpenKey(PHANDLE key, const OBJECT_ATTRIBUTES* attributes);
    NTSTATUS CreateKey(PHANDLE key, const OBJECT_ATTRIBUTES* attributes, PULONG disposition);
    NTSTATUS Close(HANDLE key);
    NTSTATUS SetValueKey(HANDLE key, const UNICODE_STRING* name, ULONG type, const void* data,
                         ULONG size);
    NTSTATUS QueryKey(HANDLE key, KEY_INFORMATION_CLASS information_class, void* buffer,
                      ULONG length, PULONG result_length);
    NTSTATUS EnumerateKey(HANDLE key, ULONG index, KEY_INFORMATION_CLASS information_class,
                          void* buffer, ULONG length, PULONG result_length);

private:
    struct Key;

    Key* Find(std::u16string_view path) const;
    Key* FromHandle(HANDLE handle) const;
    std::optional<NTSTATUS> InjectedFailure(RegistryOperation operation, const Key* key,
                                            std::u16string_view path) const;
    std::u16string PathOf(const Key* key) const;
    HANDLE NewHandle(Key* key);

    std::unique_ptr<Key> root_;
    std::map<std::uintptr_t, Key*> handles_;
    std::uintptr_t next_handle_ = 0x80000004;
    std::map<std::pair<RegistryOperation, std::u16string>, NTSTATUS> failures_;
};

// Case folding of the registry: the letters a to z fold to A to Z.
std::u16string FoldCase(std::u16string_view text);

}  // namespace quell::sim
