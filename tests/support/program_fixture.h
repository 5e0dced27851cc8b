#pragma once

// What tests of the real program share: the settings hive as the installer writes
// it, and a folder in which the program runs against the store simulator.

#include "tools/store-sim/store_sim.h"

#include "tests/support/common.h"
#include "tests/support/process.h"
#include "tests/support/wait_for_files.h"

namespace qvr::test {

// A hive file as the installer writes it, with what a test puts in each key. An
// empty text leaves its key out.
inline std::string makeHive(const std::string& base, const std::string& client, const std::string& queue)
{
    std::string text = "REGEDIT4\r\n\r\n";
    if (!base.empty())
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\r\n" + base + "\r\n";
    if (!client.empty())
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\r\n" + client + "\r\n";
    if (!queue.empty())
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue]\r\n" + queue + "\r\n";
    return text;
}

// Settings naming folders of its own ("install", "music", the queue files in
// "queues"), a private runtime folder "run", "requests", "tmp", the user's cache
// "cache", the store, and the installation id given.
class ProgramFolder : public ::testing::Test {
protected:
    explicit ProgramFolder(const std::string& installationId = "G")
    {
        m_store.start();
        for (const char* folder : {"install", "music", "queues", "requests", "tmp"})
            ::mkdir(m_dir.file(folder).c_str(), 0755);
        ::mkdir(m_dir.file("run").c_str(), 0700);
        writeFile(m_dir.file("registry.reg"),
                  makeHive("\"Directory\"=\"" + m_dir.file("install") + "\"",
                           "\"DownloadFolder\"=\"" + m_dir.file("music") + "\"\r\n\"GUID\"=\"" + installationId + "\"",
                           "\"RawQueue\"=\"" + m_dir.file("queues/raw.txt") + "\"\r\n\"DownloadQueue\"=\""
                               + m_dir.file("queues/download.txt") + "\""));
    }

    std::vector<std::string> environment(const std::string& platform = "offscreen") const
    {
        return {"QVR_REGISTRY=" + m_dir.file("registry.reg"), "XDG_RUNTIME_DIR=" + m_dir.file("run"),
                "QVR_STORE_HOST=" + m_store.hostPort(), "QT_QPA_PLATFORM=" + platform, "TMPDIR=" + m_dir.file("tmp"),
                "XDG_CACHE_HOME=" + m_dir.file("cache")};
    }
    std::string request(const std::string& name, const std::string& contents)
    {
        writeFile(m_dir.file("requests/" + name), contents);
        return m_dir.file("requests/" + name);
    }
    // Waits until each track is whole in the music folder and the download queue is empty.
    bool tracksArrive(std::initializer_list<std::pair<std::string, std::uint64_t>> tracks) const
    {
        return waitForFiles(m_dir.path(), [&] {
            for (const auto& [title, size] : tracks) {
                std::error_code error;
                if (std::filesystem::file_size(m_dir.file("music/" + title + ".mp3"), error) != size || error)
                    return false;
            }
            return readFile(m_dir.file("queues/download.txt")).empty();
        });
    }
    std::vector<std::string> trackInfoQueries() const
    {
        std::vector<std::string> queries;
        for (const auto& r : m_store.requests())
            if (r.path == "/downloader/downloader_dlm.html")
                queries.push_back(r.query);
        return queries;
    }

    TempDir m_dir;
    sim::StoreSimulator m_store;
};

} // namespace qvr::test
