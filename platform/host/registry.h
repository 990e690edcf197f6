// The host model's registry: two roots holding trees of keys with values.
#ifndef KVUNINST_HOST_REGISTRY_H
#define KVUNINST_HOST_REGISTRY_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace host {

// Key and value names compare as the Windows registry does: ignoring case,
// keeping it. Subkeys enumerate in this order (as Wine and NT give it).
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool SameName(const std::string& a, const std::string& b);

struct RegValue {
    std::string name;  // "" is the key's default value (@ in REGEDIT4)
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const RegValue& other) const = default;
};

struct RegKey {
    std::string name;
    std::vector<RegValue> values;  // in the order they were set
    std::map<std::string, std::shared_ptr<RegKey>, NameLess> subkeys;
    bool deleted = false;

    RegValue* FindValue(const std::string& valueName);
    const RegValue* FindValue(const std::string& valueName) const;
    // Sets or replaces the value of that name.
    void SetValue(RegValue value);
    // Returns the existing subkey or a new one.
    RegKey& Subkey(const std::string& subkeyName);
};

// The key at `path` ("A\B") below `key`: `key` itself for "", null when a
// part is missing or empty.
std::shared_ptr<RegKey> FindBelow(std::shared_ptr<RegKey> key, const std::string& path);

enum class Root { LocalMachine, CurrentUser };
const char* RootName(Root root);   // "HKEY_LOCAL_MACHINE"
const char* RootShort(Root root);  // "HKLM"

struct Registry {
    std::shared_ptr<RegKey> localMachine = std::make_shared<RegKey>();
    std::shared_ptr<RegKey> currentUser = std::make_shared<RegKey>();

    RegKey& RootKey(Root root);
    const RegKey& RootKey(Root root) const;
    // A key by its path below a root ("A\B"), or null.
    const RegKey* Find(Root root, const std::string& path) const;
    Registry Clone() const;
};

bool SameTree(const RegKey& a, const RegKey& b);
bool SameRegistry(const Registry& a, const Registry& b);

// What differs between two registries, as full paths ("HKEY_LOCAL_MACHINE\A").
struct RegistryDiff {
    // Keys gone, topmost only, with how many keys went below each.
    std::vector<std::pair<std::string, size_t>> removedKeys;
    std::vector<std::string> removedValues;  // path "\"name"" of keys kept
    std::vector<std::string> addedKeys;
    std::vector<std::string> addedValues;
    std::vector<std::string> changedValues;
    bool Empty() const;
};
RegistryDiff Diff(const Registry& before, const Registry& after);

}  // namespace host

#endif
