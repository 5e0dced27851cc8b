// The two queue files. Whatever a file holds, what loads from it can be saved and
// loads back as the same list; a list built in memory survives a save and a load
// exactly when every element is storable, and a refused save leaves the file as
// it was.

#include "engine/queue_files.h"
#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using qvr::EntryList;
using qvr::QueueItem;
using qvr::RawEntryItem;

std::vector<std::string> fields(const QueueItem& item) { return {item.title, item.url}; }
std::vector<std::string> fields(const RawEntryItem& entry) { return {entry.text}; }
bool storable(const QueueItem& item) { return qvr::IsStorableQueueItem(item.title, item.url); }
bool storable(const RawEntryItem& entry) { return qvr::IsStorableRawEntry(entry.text); }

// The list's elements, and whether every one of them is storable.
template <class Node>
std::pair<std::vector<std::vector<std::string>>, bool> elementsOf(const EntryList<Node>& list)
{
    std::pair<std::vector<std::vector<std::string>>, bool> result {{}, true};
    for (const Node* node = list.GetHead(); node; node = node->next.get()) {
        result.first.push_back(fields(*node));
        result.second = result.second && storable(*node);
    }
    return result;
}

// Elements the fuzzer makes up, storable or not.
template <class Node>
void fill(FuzzedDataProvider& in, EntryList<Node>& list)
{
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        std::string first = in.ConsumeRandomLengthString(std::is_same_v<Node, QueueItem> ? 40 : 60);
        if constexpr (std::is_same_v<Node, QueueItem>)
            list.AddTail(std::make_unique<QueueItem>(std::move(first), in.ConsumeRandomLengthString(60)));
        else
            list.AddTail(std::make_unique<RawEntryItem>(std::move(first)));
    }
}

template <class Node>
void check(FuzzedDataProvider& in, bool (*load)(EntryList<Node>&, const std::string&),
           bool (*save)(const EntryList<Node>&, const std::string&))
{
    const std::string a = qvr::fuzz::scratch().file("a");
    const std::string b = qvr::fuzz::scratch().file("b");
    if (in.ConsumeBool()) {
        // A file as anything may have left it.
        qvr::fuzz::writeFile(a, in.ConsumeRemainingBytesAsString());
        EntryList<Node> loaded;
        QVR_FUZZ_CHECK(load(loaded, a), "a readable file loads");
        QVR_FUZZ_CHECK(elementsOf(loaded).second, "whatever loads can be stored");
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
    const bool ok = elementsOf(list).second;
    QVR_FUZZ_CHECK(save(list, a) == ok, "a list is saved exactly when every element is storable");
    QVR_FUZZ_CHECK(ok || qvr::fuzz::readFile(a) == old, "a refused save leaves the file as it was");
    EntryList<Node> loaded;
    QVR_FUZZ_CHECK(!ok || load(loaded, a), "a saved file loads");
    QVR_FUZZ_CHECK(!ok || elementsOf(loaded) == elementsOf(list), "save then load gives the same list");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool())
        check<QueueItem>(in, qvr::LoadDownloadQueue, qvr::SaveDownloadQueue);
    else
        check<RawEntryItem>(in, qvr::LoadRawQueue, qvr::SaveRawQueue);
    return 0;
}
