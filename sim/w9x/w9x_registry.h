// The 9x registry as the virtual machine manager's registry services reach it: keys below the
// predefined roots, names compared without regard to case, subkeys enumerated in the order
// they were created, values typed. Tests set it up and inspect it by path ("Enum\PCI").
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/w9x.h"

namespace quell::sim {

enum class W9xRegistryOperation { Open, EnumerateKey, QueryInfo, SetValue };

class W9xRegistry {
public:
    struct Value {
        ULONG type = 0;
        std::vector<std::uint8_t> data;
    };

    W9xRegistry();
    ~W9xRegistry();
    W9xRegistry(const W9xRegistry&) = delete;
    W9xRegistry& operator=(const W9xRegistry&) = delete;

    // ---- set-up and inspection; paths are below HKEY_LOCAL_MACHINE ----
    void CreateKeyPath(std::string_view path);
    bool KeyExists(std::string_view path) const;
    std::optional<Value> GetValue(std::string_view path, std::string_view name) const;
    std::vector<std::string> SubkeyNames(std::string_view path) const;
    std::size_t OpenHandleCount() const { return handles_.size(); }
    // From now on every operation of this kind on the key at path fails.
    void FailOperation(W9xRegistryOperation operation, std::string_view path);

    // ---- the services; results are the VMM_ERROR_ codes ----
    ULONG OpenKey(ULONG root, const char* path, ULONG* key);
    ULONG CloseKey(ULONG key);
    // The name and its terminator must fit size bytes, else VMM_ERROR_MORE_DATA.
    ULONG EnumerateKey(ULONG key, ULONG index, char* name, ULONG size) const;
    ULONG QuerySubkeyCount(ULONG key, ULONG* count) const;
    ULONG SetValue(ULONG key, const char* name, ULONG type, const void* data, ULONG size);

private:
    struct Key;

    Key* Find(std::string_view path) const;
    Key* FromHandle(ULONG handle) const;
    bool Fails(W9xRegistryOperation operation, const Key* key) const;
    std::string PathOf(const Key* key) const;

    std::unique_ptr<Key> root_;
    std::map<ULONG, Key*> handles_;
    ULONG next_handle_ = 0xC1000010;
    std::set<std::pair<W9xRegistryOperation, std::string>> failures_;
};

}  // namespace quell::sim
