// platform/com/registry.h: the registry, a tree of keys with a default value and named values each,
// kept in one text file. Where classes, ProgIDs, type libraries and component categories are
// registered and looked up.
//   The file: $TARVO_REGISTRY, else $XDG_CONFIG_HOME/tarvo/registry, else ~/.config/tarvo/registry.
//   A missing file is an empty registry; a malformed one is a RegistryError naming its line, never
//   an empty registry (that would lose every registration at the next save).
//   Saving writes a temporary file beside it and renames it over the old one, so a crash at any
//   moment leaves the old file or the new one, whole. Edits run under a lock on "FILE.lock".
// Key and value names compare without regard to case and keep the spelling they were created with.
// A path names keys from the root, separated by '\': "HKEY_CLASSES_ROOT\CLSID\{...}"; the hive
// names HKCR, HKCU and HKLM stand for HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace reg {

class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CaseLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};

class Key {
public:
    using Values = std::map<std::string, std::string, CaseLess>;
    using Subkeys = std::map<std::string, Key, CaseLess>;

    const std::optional<std::string>& defaultValue() const { return default_; }
    void setDefault(std::string text) { default_ = std::move(text); }
    void clearDefault() { default_.reset(); }

    const Values& values() const { return values_; }
    // A named value, or null.
    const std::string* value(std::string_view name) const;
    void setValue(std::string_view name, std::string text);
    bool removeValue(std::string_view name);

    const Subkeys& subkeys() const { return subkeys_; }
    // The key at a path relative to this one ("a\b"; "" is this key), or null. Hive aliases are
    // understood at any level but only mean something at the root.
    Key* find(std::string_view path);
    const Key* find(std::string_view path) const;
    // The key at a path, created with every missing key on the way. Throws RegistryError for an
    // empty key name inside the path ("a\\b").
    Key& create(std::string_view path);
    // Removes the key at a path with everything under it; false when there was none.
    bool remove(std::string_view path);

    // No default value, no named values, no subkeys.
    bool empty() const { return !default_ && values_.empty() && subkeys_.empty(); }

    friend bool operator==(const Key& a, const Key& b);

private:
    std::optional<std::string> default_;
    Values values_;
    Subkeys subkeys_;
};

// Splits "a\b\c" into its names; '/' is not a separator (ProgIDs and paths may hold it).
std::vector<std::string> splitKeyPath(std::string_view path);
// The full hive name of an alias (HKCR, ...), or the name itself.
std::string_view hiveName(std::string_view name);

// The file in use: see the top of this header.
std::string registryPath();

// The text form of a tree, and back. parseRegistry throws RegistryError ("line N: ...").
std::string formatRegistry(const Key& root);
Key parseRegistry(std::string_view text);

// Reads the registry file (an empty tree when it does not exist). Throws RegistryError.
Key loadRegistry(const std::string& path = registryPath());
// Writes the tree atomically (temporary file, fsync, rename); creates the folder. Throws RegistryError.
// Takes no lock: programs that may run beside others change the registry through editRegistry.
void saveRegistry(const Key& root, const std::string& path = registryPath());

// Read, change, write under an exclusive lock, so two programs registering at once lose nothing.
// The tree is saved only when `body` returns without throwing; what it throws passes through.
void editRegistry(const std::function<void(Key& root)>& body, const std::string& path = registryPath());

// One value of the registry file in use: the default value when name is empty. nullopt when the
// key or value is missing or the file cannot be read.
std::optional<std::string> queryValue(std::string_view keyPath, std::string_view name = {});

}  // namespace reg
