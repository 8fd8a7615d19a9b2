#pragma once

#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace tolvane::fixture {

// Every key path of a report, arrays written as "[]": "streams[].kind".
inline void keyPaths(const nlohmann::json& value, const std::string& path,
                     std::set<std::string>& paths) {
    if (value.is_object()) {
        for (const auto& [key, child] : value.items()) {
            const std::string childPath = path.empty() ? key : path + "." + key;
            paths.insert(childPath);
            keyPaths(child, childPath, paths);
        }
    } else if (value.is_array()) {
        for (const nlohmann::json& child : value) {
            keyPaths(child, path + "[]", paths);
        }
    }
}

}  // namespace tolvane::fixture
