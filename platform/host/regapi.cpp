// The registry functions, as Windows 95/98 behaves for the calls the
// uninstaller makes.
#include <cstdio>
#include <cstring>

#include "platform/host/machine_internal.h"

using host::machine;
using host::OpenKey;
using host::RegKey;

namespace {

const LONG ErrorInvalidParameter = 87;

bool IsRoot(HKEY key, host::Root* root) {
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
        *root = key == HKEY_LOCAL_MACHINE ? host::Root::LocalMachine
                                          : host::Root::CurrentUser;
        return true;
    }
    return false;
}

// How the journal names a handle: by the key path it was opened for.
std::string Show(HKEY key) {
    host::Root root;
    if (key == nullptr) {
        return "NULL";
    }
    if (IsRoot(key, &root)) {
        return host::RootShort(root);
    }
    auto it = machine().handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it != machine().handles.end()) {
        return it->second.path;
    }
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(key)));
    return text;
}

// The live key behind a handle, or null for a null, unknown, closed or
// deleted one.
RegKey* Lookup(HKEY key) {
    host::Root root;
    if (IsRoot(key, &root)) {
        return &machine().registry.RootKey(root);
    }
    auto it = machine().handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == machine().handles.end() || !it->second.open || it->second.key->deleted) {
        return nullptr;
    }
    return it->second.key.get();
}

std::shared_ptr<RegKey> Shared(HKEY key) {
    host::Root root;
    if (IsRoot(key, &root)) {
        return machine().registry.SharedRoot(root);
    }
    return machine().handles.at(reinterpret_cast<std::uintptr_t>(key)).key;
}

LONG Finish(const std::string& call, LONG status) {
    host::Record(call, status);
    return status;
}

}  // namespace

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    std::string call = "RegOpenKeyA(" + Show(key) + ", " + host::Quote(subKey) + ", " +
                       (result ? "out" : "NULL") + ")";
    if (auto fault = host::TakeFault()) {
        return Finish(call, *fault);  // the handle is left unwritten
    }
    if (result == nullptr) {
        return Finish(call, ErrorInvalidParameter);
    }
    *result = nullptr;
    if (Lookup(key) == nullptr) {
        return Finish(call, ERROR_INVALID_HANDLE);
    }
    if (subKey == nullptr || *subKey == '\0') {
        // No subkey: the key itself, and a root stays the root.
        *result = key;
        return Finish(call, ERROR_SUCCESS);
    }
    std::shared_ptr<RegKey> found = host::FindBelow(Shared(key), subKey);
    if (found == nullptr) {
        return Finish(call, ERROR_FILE_NOT_FOUND);
    }
    host::Machine& m = machine();
    std::uintptr_t value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = OpenKey{found, Show(key) + "\\" + subKey, true};
    *result = reinterpret_cast<HKEY>(value);
    return Finish(call, ERROR_SUCCESS);
}

LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
    std::string call = "RegEnumKeyA(" + Show(key) + ", " + std::to_string(index) + ", " +
                       (name ? "buf" : "NULL") + ", " + std::to_string(nameSize) + ")";
    if (auto fault = host::TakeFault()) {
        return Finish(call, *fault);
    }
    RegKey* parent = Lookup(key);
    if (parent == nullptr) {
        return Finish(call, ERROR_INVALID_HANDLE);
    }
    const RegKey* sub = parent->SubkeyAt(index, machine().nt);
    if (sub == nullptr) {
        return Finish(call, ERROR_NO_MORE_ITEMS);
    }
    const std::string& found = sub->name;
    if (name == nullptr || found.size() + 1 > nameSize) {
        return Finish(call, ERROR_MORE_DATA);
    }
    std::memcpy(name, found.c_str(), found.size() + 1);
    return Finish(call, ERROR_SUCCESS);
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD dataSize) {
    std::string call = "RegQueryValueExA(" + Show(key) + ", " + host::Quote(valueName) +
                       ", " + (reserved ? "ptr" : "NULL") + ", " + (type ? "out" : "NULL") +
                       ", " + (data ? "buf" : "NULL") + ", " +
                       (dataSize ? "&" + std::to_string(*dataSize) : std::string("NULL")) +
                       ")";
    if (auto fault = host::TakeFault()) {
        return Finish(call, *fault);
    }
    RegKey* owner = Lookup(key);
    if (owner == nullptr) {
        return Finish(call, ERROR_INVALID_HANDLE);
    }
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return Finish(call, ErrorInvalidParameter);
    }
    const host::RegValue* value = owner->FindValue(valueName ? valueName : "");
    if (value == nullptr) {
        return Finish(call, ERROR_FILE_NOT_FOUND);
    }
    if (type != nullptr) {
        *type = value->type;
    }
    DWORD size = static_cast<DWORD>(value->data.size());
    if (dataSize == nullptr) {
        return Finish(call, ERROR_SUCCESS);
    }
    if (data != nullptr && *dataSize < size) {
        // What a too-small buffer holds then means nothing; fill it with the
        // start of the data so a caller that reads it anyway is caught.
        std::memcpy(data, value->data.data(), *dataSize);
        *dataSize = size;
        return Finish(call, ERROR_MORE_DATA);
    }
    if (data != nullptr && size != 0) {
        std::memcpy(data, value->data.data(), size);
    }
    *dataSize = size;
    return Finish(call, ERROR_SUCCESS);
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    std::string call = "RegDeleteKeyA(" + Show(key) + ", " + host::Quote(subKey) + ")";
    if (auto fault = host::TakeFault()) {
        return Finish(call, *fault);
    }
    if (Lookup(key) == nullptr) {
        return Finish(call, ERROR_INVALID_HANDLE);
    }
    if (subKey == nullptr || *subKey == '\0') {
        return Finish(call, ErrorInvalidParameter);
    }
    std::string path = subKey;
    size_t split = path.rfind('\\');
    std::shared_ptr<RegKey> parent =
        split == std::string::npos ? Shared(key) : host::FindBelow(Shared(key), path.substr(0, split));
    std::string leaf = split == std::string::npos ? path : path.substr(split + 1);
    if (parent == nullptr) {
        return Finish(call, ERROR_FILE_NOT_FOUND);
    }
    std::shared_ptr<RegKey> target = parent->FindSubkey(leaf);
    if (target == nullptr) {
        return Finish(call, ERROR_FILE_NOT_FOUND);
    }
    if (machine().nt && !target->Subkeys().empty()) {
        return Finish(call, ERROR_ACCESS_DENIED);
    }
    machine().removed.keys.emplace_back(host::FullPath(*target), host::CountBelow(*target));
    parent->RemoveSubkey(leaf);
    return Finish(call, ERROR_SUCCESS);
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
    std::string call = "RegDeleteValueA(" + Show(key) + ", " + host::Quote(valueName) + ")";
    if (auto fault = host::TakeFault()) {
        return Finish(call, *fault);
    }
    RegKey* owner = Lookup(key);
    if (owner == nullptr) {
        return Finish(call, ERROR_INVALID_HANDLE);
    }
    const host::RegValue* value = owner->FindValue(valueName ? valueName : "");
    if (value == nullptr) {
        return Finish(call, ERROR_FILE_NOT_FOUND);
    }
    std::string name = value->name;
    machine().removed.values.push_back(host::FullPath(*owner) + " \"" + name + "\"");
    owner->RemoveValue(name);
    return Finish(call, ERROR_SUCCESS);
}

LONG WINAPI RegCloseKey(HKEY key) {
    std::string call = "RegCloseKey(" + Show(key) + ")";
    if (auto fault = host::TakeFault()) {
        return Finish(call, *fault);
    }
    host::Root root;
    if (IsRoot(key, &root)) {
        return Finish(call, ERROR_SUCCESS);
    }
    // A handle on a deleted key still closes.
    auto it = machine().handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == machine().handles.end() || !it->second.open) {
        return Finish(call, ERROR_INVALID_HANDLE);
    }
    it->second.open = false;
    return Finish(call, ERROR_SUCCESS);
}
