// A scratch folder of method files for one test, removed afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace purgelet::testing {

class MetFolder {
public:
    MetFolder() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("purgelet-methods-" + std::to_string(Stamp()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~MetFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    MetFolder(const MetFolder&) = delete;
    MetFolder& operator=(const MetFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

    // Writes the lines, each ended by CR LF, and returns the file's full path.
    std::string Write(const std::string& name, std::initializer_list<std::string> lines) {
        std::string text;
        for (const auto& line : lines)
            text += line + "\r\n";
        return WriteRaw(name, text);
    }
    std::string WriteRaw(const std::string& name, const std::string& bytes) {
        auto file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
        return file.string();
    }

private:
    static long long Stamp() {
        return static_cast<long long>(
            std::filesystem::file_time_type::clock::now().time_since_epoch().count() % 1000000007);
    }
    std::filesystem::path path_;
};

} // namespace purgelet::testing
