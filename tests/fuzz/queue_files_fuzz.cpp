// The two queue files. Whatever a file holds, what loads from it can be saved and
// loads back as the same list; a list built in memory survives a save and a load
// exactly when every element is storable, and a refused save leaves the file as
// it was.

#include "engine/queue_files.h"
#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using qvr::EntryList;
using qvr::QueueItem;
using qvr::RawEntryItem;

using Elements = std::vector<std::vector<std::string>>;

Elements elementsOf(const EntryList<QueueItem>& queue)
{
    Elements elements;
    for (const QueueItem* item = queue.GetHead(); item; item = item->next.get())
        elements.push_back({item->title, item->url});
    return elements;
}

Elements elementsOf(const EntryList<RawEntryItem>& entries)
{
    Elements elements;
    for (const RawEntryItem* entry = entries.GetHead(); entry; entry = entry->next.get())
        elements.push_back({entry->text});
    return elements;
}

bool storable(const EntryList<QueueItem>& queue)
{
    for (const QueueItem* item = queue.GetHead(); item; item = item->next.get()) {
        if (!qvr::IsStorableQueueItem(item->title, item->url))
            return false;
    }
    return true;
}

bool storable(const EntryList<RawEntryItem>& entries)
{
    for (const RawEntryItem* entry = entries.GetHead(); entry; entry = entry->next.get()) {
        if (!qvr::IsStorableRawEntry(entry->text))
            return false;
    }
    return true;
}

// Elements the fuzzer makes up, storable or not.
void fill(FuzzedDataProvider& in, EntryList<QueueItem>& queue)
{
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        std::string title = in.ConsumeRandomLengthString(40);
        queue.AddTail(std::make_unique<QueueItem>(std::move(title), in.ConsumeRandomLengthString(60)));
    }
}

void fill(FuzzedDataProvider& in, EntryList<RawEntryItem>& entries)
{
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n)
        entries.AddTail(std::make_unique<RawEntryItem>(in.ConsumeRandomLengthString(60)));
}

template <class Node, class Load, class Save>
void check(FuzzedDataProvider& in, Load load, Save save)
{
    const std::string a = qvr::fuzz::scratch().file("a");
    const std::string b = qvr::fuzz::scratch().file("b");

    if (in.ConsumeBool()) {
        // A file as anything may have left it.
        qvr::fuzz::writeFile(a, in.ConsumeRemainingBytesAsString());
        EntryList<Node> loaded;
        QVR_FUZZ_CHECK(load(loaded, a), "a readable file loads");
        QVR_FUZZ_CHECK(storable(loaded), "whatever loads can be stored");
        QVR_FUZZ_CHECK(save(loaded, b), "whatever loads can be saved");
        EntryList<Node> again;
        QVR_FUZZ_CHECK(load(again, b), "a saved file loads");
        QVR_FUZZ_CHECK(elementsOf(again) == elementsOf(loaded), "load, save, load gives the same list");
        const std::string saved = qvr::fuzz::readFile(b);
        QVR_FUZZ_CHECK(save(again, b) && qvr::fuzz::readFile(b) == saved, "saving the same list writes the same file");
        return;
    }

    // A list made in memory, saved over a file that holds something else.
    const std::string old = in.ConsumeRandomLengthString(40);
    qvr::fuzz::writeFile(a, old);
    EntryList<Node> list;
    fill(in, list);
    const bool ok = storable(list);
    QVR_FUZZ_CHECK(save(list, a) == ok, "a list is saved exactly when every element is storable");
    if (!ok) {
        QVR_FUZZ_CHECK(qvr::fuzz::readFile(a) == old, "a refused save leaves the file as it was");
        return;
    }
    EntryList<Node> loaded;
    QVR_FUZZ_CHECK(load(loaded, a), "a saved file loads");
    QVR_FUZZ_CHECK(elementsOf(loaded) == elementsOf(list), "save then load gives the same list");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        check<QueueItem>(
            in, [](auto& list, const std::string& path) { return qvr::LoadDownloadQueue(list, path); },
            [](const auto& list, const std::string& path) { return qvr::SaveDownloadQueue(list, path); });
    } else {
        check<RawEntryItem>(
            in, [](auto& list, const std::string& path) { return qvr::LoadRawQueue(list, path); },
            [](const auto& list, const std::string& path) { return qvr::SaveRawQueue(list, path); });
    }
    return 0;
}
