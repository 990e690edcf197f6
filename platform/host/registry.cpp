#include "platform/host/registry.h"

#include <algorithm>

namespace host {

namespace {

// NT orders key names by their upper-case form.
unsigned char Fold(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// Below this many values a linear search beats keeping an index.
const size_t IndexFrom = 16;

void DiffKey(const RegKey& before, const RegKey& after, const std::string& path,
             RegistryDiff& diff) {
    for (const RegValue& value : before.Values()) {
        const RegValue* kept = after.FindValue(value.name);
        std::string where = path + " \"" + value.name + "\"";
        if (kept == nullptr) {
            diff.removedValues.push_back(where);
        } else if (!(*kept == value)) {
            diff.changedValues.push_back(where);
        }
    }
    for (const RegValue& value : after.Values()) {
        if (before.FindValue(value.name) == nullptr) {
            diff.addedValues.push_back(path + " \"" + value.name + "\"");
        }
    }
    for (const auto& sub : before.Subkeys()) {
        std::shared_ptr<RegKey> kept = after.FindSubkey(sub->name);
        std::string subPath = path + "\\" + sub->name;
        if (kept == nullptr) {
            diff.removedKeys.emplace_back(subPath, CountBelow(*sub));
        } else {
            if (kept->name != sub->name) {
                diff.changedValues.push_back(subPath + " (name's case)");
            }
            DiffKey(*sub, *kept, subPath, diff);
        }
    }
    for (const auto& sub : after.Subkeys()) {
        if (before.FindSubkey(sub->name) == nullptr) {
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
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

size_t NameHash::operator()(const std::string& name) const {
    size_t h = 14695981039346656037ull;
    for (char c : name) {
        h = (h ^ Fold(c)) * 1099511628211ull;
    }
    return h;
}

size_t RegKey::ValueSlot(const std::string& valueName) const {
    if (values_.size() < IndexFrom) {
        for (size_t i = 0; i < values_.size(); ++i) {
            if (SameName(values_[i].name, valueName)) {
                return i;
            }
        }
        return values_.size();
    }
    if (valueIndex_.size() != values_.size()) {
        valueIndex_.clear();
        for (size_t i = 0; i < values_.size(); ++i) {
            valueIndex_.emplace(values_[i].name, i);
        }
    }
    auto it = valueIndex_.find(valueName);
    return it == valueIndex_.end() ? values_.size() : it->second;
}

const RegValue* RegKey::FindValue(const std::string& valueName) const {
    size_t slot = ValueSlot(valueName);
    return slot < values_.size() ? &values_[slot] : nullptr;
}

void RegKey::SetValue(RegValue value) {
    size_t slot = ValueSlot(value.name);
    if (slot < values_.size()) {
        values_[slot] = std::move(value);
        return;
    }
    if (!valueIndex_.empty()) {
        valueIndex_.emplace(value.name, values_.size());
    }
    values_.push_back(std::move(value));
}

bool RegKey::RemoveValue(const std::string& valueName) {
    size_t slot = ValueSlot(valueName);
    if (slot == values_.size()) {
        return false;
    }
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(slot));
    valueIndex_.clear();
    return true;
}

RegKey* RegKey::SubkeyAt(size_t index, bool sorted) const {
    if (index >= order_.size()) {
        return nullptr;
    }
    if (!sorted) {
        return order_[index].get();
    }
    if (!sortedValid_) {
        sorted_.clear();
        for (const auto& sub : order_) {
            sorted_.push_back(sub.get());
        }
        std::sort(sorted_.begin(), sorted_.end(),
                  [](const RegKey* a, const RegKey* b) { return NameLess()(a->name, b->name); });
        sortedValid_ = true;
    }
    return sorted_[index];
}

std::shared_ptr<RegKey> RegKey::FindSubkey(const std::string& subkeyName) const {
    auto it = byName_.find(subkeyName);
    return it == byName_.end() ? nullptr : it->second;
}

std::shared_ptr<RegKey> RegKey::SharedSubkey(const std::string& subkeyName) {
    auto [it, added] = byName_.try_emplace(subkeyName);
    if (added) {
        it->second = std::make_shared<RegKey>();
        it->second->name = subkeyName;
        it->second->parent_ = this;
        order_.push_back(it->second);
        sortedValid_ = false;
    }
    return it->second;
}

std::shared_ptr<RegKey> RegKey::RemoveSubkey(const std::string& subkeyName) {
    auto it = byName_.find(subkeyName);
    if (it == byName_.end()) {
        return nullptr;
    }
    std::shared_ptr<RegKey> gone = it->second;
    byName_.erase(it);
    order_.erase(std::find(order_.begin(), order_.end(), gone));
    sortedValid_ = false;
    gone->Detach();
    return gone;
}

void RegKey::Detach() {
    deleted = true;
    parent_ = nullptr;
    for (const auto& sub : order_) {
        sub->Detach();
    }
}

std::shared_ptr<RegKey> RegKey::Clone() const {
    auto copy = std::make_shared<RegKey>();
    copy->name = name;
    copy->deleted = deleted;
    copy->values_ = values_;
    for (const auto& sub : order_) {
        std::shared_ptr<RegKey> child = sub->Clone();
        child->parent_ = copy.get();
        copy->byName_.emplace(child->name, child);
        copy->order_.push_back(child);
    }
    return copy;
}

size_t CountBelow(const RegKey& key) {
    size_t n = 0;
    for (const auto& sub : key.Subkeys()) {
        n += 1 + CountBelow(*sub);
    }
    return n;
}

std::string FullPath(const RegKey& key) {
    std::string path = key.name;
    for (const RegKey* up = key.Parent(); up != nullptr; up = up->Parent()) {
        path = up->name + "\\" + path;
    }
    return path;
}

const char* RootName(Root root) {
    static const char* const names[RootCount] = {
        "HKEY_LOCAL_MACHINE", "HKEY_USERS",          "HKEY_CURRENT_USER",
        "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
    return names[static_cast<int>(root)];
}

const char* RootShort(Root root) {
    static const char* const names[RootCount] = {"HKLM", "HKU", "HKCU", "HKCR", "HKCC", "HKDD"};
    return names[static_cast<int>(root)];
}

Registry::Registry() {
    for (int i = 0; i < RootCount; ++i) {
        roots[i] = std::make_shared<RegKey>();
        roots[i]->name = RootName(static_cast<Root>(i));
    }
    currentUser = roots[static_cast<int>(Root::CurrentUser)];
}

RegKey& Registry::RootKey(Root root) { return *SharedRoot(root); }

const RegKey& Registry::RootKey(Root root) const { return *SharedRoot(root); }

std::shared_ptr<RegKey> Registry::SharedRoot(Root root) const {
    return root == Root::CurrentUser ? currentUser : roots[static_cast<int>(root)];
}

bool Registry::UseUser(const std::string& name) {
    std::shared_ptr<RegKey> user = roots[static_cast<int>(Root::Users)]->FindSubkey(name);
    if (user == nullptr) {
        return false;
    }
    currentUser = user;
    currentUserName = user->name;
    return true;
}

std::shared_ptr<RegKey> FindBelow(std::shared_ptr<RegKey> key, const std::string& path) {
    if (path.empty()) {
        return key;
    }
    size_t start = 0;
    while (key != nullptr) {
        size_t end = path.find('\\', start);
        key = key->FindSubkey(path.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return key;
}

const RegKey* Registry::Find(Root root, const std::string& path) const {
    return FindBelow(SharedRoot(root), path).get();
}

Registry Registry::Clone() const {
    Registry copy;
    for (int i = 0; i < RootCount; ++i) {
        copy.roots[i] = roots[i]->Clone();
    }
    copy.currentUser = copy.roots[static_cast<int>(Root::CurrentUser)];
    if (!currentUserName.empty()) {
        copy.UseUser(currentUserName);
    }
    return copy;
}

bool SameTree(const RegKey& a, const RegKey& b) {
    if (a.name != b.name || a.Values() != b.Values() ||
        a.Subkeys().size() != b.Subkeys().size()) {
        return false;
    }
    for (size_t i = 0; i < a.Subkeys().size(); ++i) {
        if (!SameTree(*a.Subkeys()[i], *b.Subkeys()[i])) {
            return false;
        }
    }
    return true;
}

bool SameRegistry(const Registry& a, const Registry& b) {
    for (int i = 0; i < RootCount; ++i) {
        if (!SameTree(*a.roots[i], *b.roots[i])) {
            return false;
        }
    }
    return SameName(a.currentUserName, b.currentUserName);
}

bool RegistryDiff::Empty() const {
    return removedKeys.empty() && removedValues.empty() && addedKeys.empty() &&
           addedValues.empty() && changedValues.empty();
}

RegistryDiff Diff(const Registry& before, const Registry& after) {
    RegistryDiff diff;
    for (int i = 0; i < RootCount; ++i) {
        DiffKey(*before.roots[i], *after.roots[i], RootName(static_cast<Root>(i)), diff);
    }
    return diff;
}

}  // namespace host
