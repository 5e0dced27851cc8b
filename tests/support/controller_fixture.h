#pragma once

// The queue decisions alone: a QueueController with everything around it played by
// the test. The view writes down what the user would see, the gates which job went to
// which worker, and the store keeps the two lists "on disk" as plain lines, with a
// hook that runs after every save (where a crash could strike).

#include "engine/message_box.h"
#include "engine/messages.h"
#include "engine/queue_controller.h"
#include "engine/workers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvr::test {

class RecordingView final : public QueueView {
public:
    void SetStatus(const std::string& text) override { status = text; }
    void ResetProgress() override { percent = 0; }
    void SetProgress(int value) override { percent = value; }
    void ShowQueue(const EntryList<QueueItem>& queue) override
    {
        rows.clear();
        for (const QueueItem* item = queue.GetHead(); item; item = item->next.get())
            rows.push_back(item->title);
    }
    void RefreshFileList(const std::string& folder) override { refreshes.push_back(folder); }
    void ShowLatched(bool resume, bool pause) override { latched = {resume, pause}; }
    void ShowFolder(const std::string& folder) override { folderText = folder; }
    int Ask(const std::string& text, const std::string& caption, unsigned) override
    {
        asked.push_back(caption.empty() ? text : caption);
        if (whileAsking)
            whileAsking();
        return answer;
    }
    std::optional<std::string> ChooseFolder(const std::string&, const std::string&) override { return chosen; }
    void Warn(const std::string& text, const std::string&) override { warnings.push_back(text); }

    std::string status;
    int percent = 0;
    std::vector<std::string> rows;
    std::vector<std::string> refreshes;
    std::pair<bool, bool> latched {false, false};
    std::string folderText;
    std::vector<std::string> asked;
    std::vector<std::string> warnings;
    int answer = IDOK;
    std::function<void()> whileAsking;  // runs while a box is open, as events would
    std::optional<std::string> chosen;
};

class RecordingGates final : public WorkerGates {
public:
    void handOver(Gate gate) override { handed.push_back(gate == Gate::Download ? "download" : "resolve"); }
    void takeBack(Gate) override {}
    void pokeFolderWatcher() override { ++pokes; }
    std::vector<std::string> handed;
    int pokes = 0;
};

class MemoryStore final : public QueueStore {
public:
    bool LoadDownloadQueue(EntryList<QueueItem>& queue) override
    {
        for (const auto& [title, url] : downloadQueue)
            queue.AddTail(std::make_unique<QueueItem>(title, url));
        return true;
    }
    bool SaveDownloadQueue(const EntryList<QueueItem>& queue) override
    {
        if (full)
            return false;
        downloadQueue.clear();
        for (const QueueItem* item = queue.GetHead(); item; item = item->next.get())
            downloadQueue.emplace_back(item->title, item->url);
        return saved();
    }
    bool LoadRawQueue(EntryList<RawEntryItem>& entries) override
    {
        for (const auto& text : rawQueue)
            entries.AddTail(std::make_unique<RawEntryItem>(text));
        return true;
    }
    bool SaveRawQueue(const EntryList<RawEntryItem>& entries) override
    {
        if (full)
            return false;
        rawQueue.clear();
        for (const RawEntryItem* entry = entries.GetHead(); entry; entry = entry->next.get())
            rawQueue.push_back(entry->text);
        return saved();
    }
    bool AppendRawQueue(std::string_view text) override
    {
        if (full)
            return false;
        rawQueue.emplace_back(text);
        return saved();
    }

    std::vector<std::pair<std::string, std::string>> downloadQueue;
    std::vector<std::string> rawQueue;
    bool full = false;
    std::function<void()> afterSave;

private:
    bool saved()
    {
        if (afterSave)
            afterSave();
        return true;
    }
};

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() { shared.m_downloadFolder.set("/music"); }

    // The resolver's report on the entry it holds: a track, or none (nullptr title).
    void resolved(const char* title, std::int32_t flags = RSF_CONSUMED)
    {
        auto item = title ? std::make_unique<QueueItem>(title, std::string("http://store/") + title) : nullptr;
        controller.OnEntryResolved(&item, flags);
    }
    // The downloader's report on the track it was handed.
    void finished(std::int32_t flags) { controller.OnDownloadFinished(flags); }
    std::vector<std::string> queued() const
    {
        std::vector<std::string> titles;
        for (const QueueItem* item = controller.queue().GetHead(); item; item = item->next.get())
            titles.push_back(item->title);
        return titles;
    }
    // These titles loaded behind the queue, as at the start.
    void startWith(std::initializer_list<const char*> titles)
    {
        store.downloadQueue.clear();
        for (const char* title : titles)
            store.downloadQueue.emplace_back(title, std::string("http://store/") + title);
        controller.LoadDownloadQueue();
    }

    RecordingView view;
    RecordingGates gates;
    const Configuration configuration;
    WorkerShared shared {configuration};
    MemoryStore store;
    std::vector<std::string> folderWrites;
    long folderWriteResult = 0;
    QueueController controller {view, gates, shared, store, [this](const std::string& folder) {
                                    folderWrites.push_back(folder);
                                    return folderWriteResult;
                                }};
};

} // namespace qvr::test
