#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The XDG base directories, read from an environment that tests can replace.

namespace orvel::xdg {

// Looks up an environment variable; nothing when it is unset.
using Environment = std::function<std::optional<std::string>(const char* name)>;

// The process's own environment (getenv).
Environment processEnvironment();

// $HOME, else the home folder of the user's account.
std::string home(const Environment& env);
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::string dataHome(const Environment& env);
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string configHome(const Environment& env);
// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache.
std::string cacheHome(const Environment& env);
// The data home, then each absolute entry of $XDG_DATA_DIRS (else /usr/local/share and
// /usr/share), in order of preference.
std::vector<std::string> dataFolders(const Environment& env);

// The keys of a desktop entry's [Desktop Entry] group and their values (other groups, comments
// and malformed lines are passed over; blanks around '=' are trimmed). Empty when the file cannot
// be read or is over 1 MiB.
std::map<std::string, std::string> readDesktopEntry(const std::string& path);
// The same, from the text of an entry.
std::map<std::string, std::string> parseDesktopEntry(std::string_view text);

// The locales a desktop entry's localized keys are looked up under, most wanted first: those of
// $LANGUAGE, then the messages locale ($LC_ALL, $LC_MESSAGES, $LANG), each as ll_CC@mod, ll_CC,
// ll@mod, ll. None for the C and POSIX locales.
std::vector<std::string> entryLocales(const Environment& env);
// A localized key's value: key[locale] for the first of the locales the entry has, else key;
// empty when it has neither.
std::string localizedValue(const std::map<std::string, std::string>& keys, const std::string& key,
                           const std::vector<std::string>& locales);

// The words of a desktop entry's Exec value: string escapes undone, then quoting ("…" with
// backslash escapes) applied. Field codes (%u, %F…) stay as words.
std::vector<std::string> execWords(const std::string& value);
// An Exec value that runs `program` (quoted and escaped when it needs to be).
std::string execValue(const std::string& program);

}  // namespace orvel::xdg
