// The host model's registry: the predefined roots holding trees of keys
// with values.
#ifndef KVUNINST_HOST_REGISTRY_H
#define KVUNINST_HOST_REGISTRY_H

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

namespace host {

// Key and value names compare as the Windows registry does: ignoring case,
// keeping it. NT enumerates subkeys in this order.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool SameName(const std::string& a, const std::string& b);
// Hashing and equality that ignore case as the names do.
struct NameHash {
    size_t operator()(const std::string& name) const;
};
struct NameEqual {
    bool operator()(const std::string& a, const std::string& b) const { return SameName(a, b); }
};

struct RegValue {
    std::string name;  // "" is the key's default value (@ in REGEDIT4)
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const RegValue& other) const = default;
};

class RegKey {
public:
    std::string name;
    // Set on every key of a subtree once it has been taken out of the tree;
    // handles on it then reach nothing.
    bool deleted = false;

    // The key this one is a subkey of; null for a root and once taken out
    // of the tree.
    RegKey* Parent() const { return parent_; }

    // Values in the order they were first set.
    const std::vector<RegValue>& Values() const { return values_; }
    const RegValue* FindValue(const std::string& valueName) const;
    // Sets or replaces the value of that name.
    void SetValue(RegValue value);
    bool RemoveValue(const std::string& valueName);

    // Subkeys in the order they were first named. Windows 95/98 keeps no
    // sorted order: its RegEnumKeyA gives them as they were created.
    const std::vector<std::shared_ptr<RegKey>>& Subkeys() const { return order_; }
    // The subkey at `index` as RegEnumKeyA counts them: in the order above,
    // or sorted by name as Windows NT gives them; null past the end.
    RegKey* SubkeyAt(size_t index, bool sorted) const;
    std::shared_ptr<RegKey> FindSubkey(const std::string& subkeyName) const;
    // Returns the existing subkey or a new one, placed last.
    RegKey& Subkey(const std::string& subkeyName) { return *SharedSubkey(subkeyName); }
    std::shared_ptr<RegKey> SharedSubkey(const std::string& subkeyName);
    // Takes the subkey and everything below it out of the tree and marks
    // them deleted; returns it, or null when there is none of that name.
    std::shared_ptr<RegKey> RemoveSubkey(const std::string& subkeyName);

    std::shared_ptr<RegKey> Clone() const;

private:
    RegKey* parent_ = nullptr;
    // Marks this key and all below it deleted and out of the tree.
    void Detach();
    std::vector<RegValue> values_;
    // Built once a key has many values, so loading a key with thousands of
    // them (SharedDLLs, say) stays linear.
    mutable std::unordered_map<std::string, size_t, NameHash, NameEqual> valueIndex_;
    std::vector<std::shared_ptr<RegKey>> order_;
    std::unordered_map<std::string, std::shared_ptr<RegKey>, NameHash, NameEqual> byName_;
    mutable std::vector<RegKey*> sorted_;
    mutable bool sortedValid_ = false;

    size_t ValueSlot(const std::string& valueName) const;
};

// The key at `path` ("A\B") below `key`: `key` itself for "", null when a
// part is missing or empty.
std::shared_ptr<RegKey> FindBelow(std::shared_ptr<RegKey> key, const std::string& path);
// How many keys lie below `key`.
size_t CountBelow(const RegKey& key);
// "HKEY_USERS\John\KVQUENOR": the key's names up to its root.
std::string FullPath(const RegKey& key);

// The predefined roots a REGEDIT4 file may name.
enum class Root { LocalMachine, Users, CurrentUser, ClassesRoot, CurrentConfig, DynData };
const int RootCount = 6;
const char* RootName(Root root);   // "HKEY_LOCAL_MACHINE"
const char* RootShort(Root root);  // "HKLM"

struct Registry {
    Registry();

    // Each root's own tree, as a file's sections name it.
    std::shared_ptr<RegKey> roots[RootCount];
    // What HKEY_CURRENT_USER reaches: its own tree, or a user's key under
    // HKEY_USERS, as Windows 95/98 maps the logged-on user's profile.
    std::shared_ptr<RegKey> currentUser;
    std::string currentUserName;  // that user's name, "" for its own tree

    // The tree a program reaches through the root's handle.
    RegKey& RootKey(Root root);
    const RegKey& RootKey(Root root) const;
    std::shared_ptr<RegKey> SharedRoot(Root root) const;
    // Points HKEY_CURRENT_USER at HKEY_USERS\name; false when there is none.
    bool UseUser(const std::string& name);
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
