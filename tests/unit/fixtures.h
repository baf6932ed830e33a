// SPDX-License-Identifier: GPL-3.0-or-later
// The committed real NTFS images and their manifests (tests/fixtures/).
#pragma once

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

inline std::filesystem::path FixtureImage(const std::string& name) {
    return std::filesystem::path(LUMBRA_FIXTURE_IMAGES) / (name + ".img");
}

inline nlohmann::json FixtureManifest(const std::string& name) {
    std::ifstream in(std::filesystem::path(LUMBRA_FIXTURE_MANIFESTS) / (name + ".json"));
    return nlohmann::json::parse(in);
}

// Names of the volume images with a manifest, NTFS ones only unless asked;
// disk images with a partition table are PartitionedFixtureNames. Images
// only a deep scan can read ("deepOnly") are DeepFixtureNames alone. An
// image missing beside its manifest is not left out: its tests fail.
inline std::vector<std::string> FixtureNames(bool ntfsOnly = true, bool partitioned = false) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(LUMBRA_FIXTURE_MANIFESTS)) {
        if (entry.path().extension() != ".json") continue;
        const std::string name = entry.path().stem().string();
        const auto manifest = FixtureManifest(name);
        if (manifest.value("deepOnly", false)) continue;
        if (manifest.contains("partitions") != partitioned) continue;
        if (!partitioned && ntfsOnly && !manifest.value("ntfs", true)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::string> PartitionedFixtureNames() {
    return FixtureNames(false, true);
}

// Every image whose manifest says what a deep scan must list ("deep"), and
// apart, those whose manifest says nothing else ("deepOnly").
inline std::vector<std::string> DeepFixtureNames(bool onlyDeepOnly = false) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(LUMBRA_FIXTURE_MANIFESTS)) {
        if (entry.path().extension() != ".json") continue;
        const std::string name = entry.path().stem().string();
        const auto manifest = FixtureManifest(name);
        if (!manifest.contains("deep") || (onlyDeepOnly && !manifest.value("deepOnly", false))) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string HexDigest(const unsigned char* digest, unsigned int length) {
    std::string hex;
    char buf[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", digest[i]);
        hex += buf;
    }
    return hex;
}

inline std::string Sha256Hex(const void* data, std::size_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr);
    return HexDigest(digest, length);
}

inline std::string Sha256OfFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::vector<char> buf(1 << 20);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        EVP_DigestUpdate(ctx, buf.data(), static_cast<std::size_t>(in.gcount()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    EVP_MD_CTX_free(ctx);
    return HexDigest(digest, length);
}

// The original path a scan must give a manifest row: the manifest's own
// "path" where it has one, otherwise "\\" + its folder + "\\" + its name
// (images made before paths were recorded reuse no folder record).
inline std::string ExpectedPath(const nlohmann::json& row) {
    if (row.contains("path")) return row["path"].get<std::string>();
    std::string path = "\\";
    for (char c : row["dir"].get<std::string>()) path.push_back(c == '/' ? '\\' : c);
    if (path.size() > 1) path.push_back('\\');
    return path + row["name"].get<std::string>();
}

// The verdict a scan must give a manifest row: the manifest's own where it
// has one; otherwise intact (those images were not written to after their
// deletes), but unknown where the runs continue in extension records.
inline std::string ExpectedVerdict(const nlohmann::json& row) {
    if (row.contains("recoverability")) return row["recoverability"]["verdict"].get<std::string>();
    const auto& flags = row["flags"];
    return std::find(flags.begin(), flags.end(), "attrlist") != flags.end() ? "unknown" : "intact";
}

// Runs a command and returns its standard output and exit status.
struct TCommandResult {
    std::string out;
    int status = -1;
};

inline TCommandResult RunCommand(const std::string& command) {
    TCommandResult r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace testing_support
