#include "platform/host/registry.h"


namespace host {

namespace {

// NT orders key names by their upper-case form.
unsigned char Fold(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

std::shared_ptr<RegKey> CloneKey(const RegKey& key) {
    auto copy = std::make_shared<RegKey>();
    copy->name = key.name;
    copy->values = key.values;
    copy->deleted = key.deleted;
    for (const auto& [name, sub] : key.subkeys) {
        copy->subkeys.emplace(name, CloneKey(*sub));
    }
    return copy;
}

size_t CountBelow(const RegKey& key) {
    size_t n = 0;
    for (const auto& entry : key.subkeys) {
        n += 1 + CountBelow(*entry.second);
    }
    return n;
}

void DiffKey(const RegKey& before, const RegKey& after, const std::string& path,
             RegistryDiff& diff) {
    for (const RegValue& value : before.values) {
        const RegValue* kept = after.FindValue(value.name);
        std::string where = path + " \"" + value.name + "\"";
        if (kept == nullptr) {
            diff.removedValues.push_back(where);
        } else if (!(kept->type == value.type && kept->data == value.data &&
                     kept->name == value.name)) {
            diff.changedValues.push_back(where);
        }
    }
    for (const RegValue& value : after.values) {
        if (before.FindValue(value.name) == nullptr) {
            diff.addedValues.push_back(path + " \"" + value.name + "\"");
        }
    }
    for (const auto& [name, sub] : before.subkeys) {
        auto it = after.subkeys.find(name);
        std::string subPath = path + "\\" + sub->name;
        if (it == after.subkeys.end()) {
            diff.removedKeys.emplace_back(subPath, CountBelow(*sub));
        } else {
            if (it->second->name != sub->name) {
                diff.changedValues.push_back(subPath + " (name's case)");
            }
            DiffKey(*sub, *it->second, subPath, diff);
        }
    }
    for (const auto& [name, sub] : after.subkeys) {
        if (before.subkeys.find(name) == before.subkeys.end()) {
            diff.addedKeys.push_back(path + "\\" + sub->name);
        }
    }
}

}  // namespace

bool NameLess::operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = Fold(a[i]);
        unsigned char y = Fold(b[i]);
        if (x != y) {
            return x < y;
        }
    }
    return a.size() < b.size();
}

bool SameName(const std::string& a, const std::string& b) {
    NameLess less;
    return !less(a, b) && !less(b, a);
}

RegValue* RegKey::FindValue(const std::string& valueName) {
    for (RegValue& value : values) {
        if (SameName(value.name, valueName)) {
            return &value;
        }
    }
    return nullptr;
}

const RegValue* RegKey::FindValue(const std::string& valueName) const {
    return const_cast<RegKey*>(this)->FindValue(valueName);
}

void RegKey::SetValue(RegValue value) {
    if (RegValue* existing = FindValue(value.name)) {
        *existing = std::move(value);
    } else {
        values.push_back(std::move(value));
    }
}

RegKey& RegKey::Subkey(const std::string& subkeyName) {
    auto& slot = subkeys[subkeyName];
    if (!slot) {
        slot = std::make_shared<RegKey>();
        slot->name = subkeyName;
    }
    return *slot;
}

const char* RootName(Root root) {
    return root == Root::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

const char* RootShort(Root root) {
    return root == Root::LocalMachine ? "HKLM" : "HKCU";
}

RegKey& Registry::RootKey(Root root) {
    return root == Root::LocalMachine ? *localMachine : *currentUser;
}

const RegKey& Registry::RootKey(Root root) const {
    return root == Root::LocalMachine ? *localMachine : *currentUser;
}

std::shared_ptr<RegKey> FindBelow(std::shared_ptr<RegKey> key, const std::string& path) {
    if (path.empty()) {
        return key;
    }
    size_t start = 0;
    while (key != nullptr) {
        size_t end = path.find('\\', start);
        auto it = key->subkeys.find(path.substr(start, end == std::string::npos ? end : end - start));
        key = it == key->subkeys.end() ? nullptr : it->second;
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return key;
}

const RegKey* Registry::Find(Root root, const std::string& path) const {
    return FindBelow(root == Root::LocalMachine ? localMachine : currentUser, path).get();
}

Registry Registry::Clone() const {
    Registry copy;
    copy.localMachine = CloneKey(*localMachine);
    copy.currentUser = CloneKey(*currentUser);
    return copy;
}

bool SameTree(const RegKey& a, const RegKey& b) {
    if (a.name != b.name || a.values != b.values || a.subkeys.size() != b.subkeys.size()) {
        return false;
    }
    for (auto i = a.subkeys.begin(), j = b.subkeys.begin(); i != a.subkeys.end(); ++i, ++j) {
        if (!SameTree(*i->second, *j->second)) {
            return false;
        }
    }
    return true;
}

bool SameRegistry(const Registry& a, const Registry& b) {
    return SameTree(*a.localMachine, *b.localMachine) &&
           SameTree(*a.currentUser, *b.currentUser);
}

bool RegistryDiff::Empty() const {
    return removedKeys.empty() && removedValues.empty() && addedKeys.empty() &&
           addedValues.empty() && changedValues.empty();
}

RegistryDiff Diff(const Registry& before, const Registry& after) {
    RegistryDiff diff;
    for (Root root : {Root::LocalMachine, Root::CurrentUser}) {
        DiffKey(before.RootKey(root), after.RootKey(root), RootName(root), diff);
    }
    return diff;
}

}  // namespace host
