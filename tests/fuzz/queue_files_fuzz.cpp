// The two queue files. Whatever a file holds, what loads can be saved and loads back the same; a
// list made in memory survives a save and a load exactly when every element is storable, and a
// refused save leaves the file as it was.

#include "engine/queue_files.h"
#include "tests/fuzz/fuzz_support.h"

#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

namespace {

using namespace qvr;
using fuzz::readFile;

std::vector<std::string> fields(const QueueItem& item) { return {item.title, item.url}; }
std::vector<std::string> fields(const RawEntryItem& entry) { return {entry.text}; }
// What a line keeps: a field that is not empty and holds no LF or NUL (which end a line
// as read), nor, in a queue item, the "|" that parts its two fields. A CR is fine: only
// the CR right before the LF goes with the line end.
bool kept(std::string_view field, std::string_view breaks)
{
    return !field.empty() && field.find_first_of(breaks) == std::string_view::npos;
}
bool storable(const QueueItem& item) { return kept(item.title, {"\n\0|", 3}) && kept(item.url, {"\n\0|", 3}); }
bool storable(const RawEntryItem& entry) { return kept(entry.text, {"\n\0", 2}); }

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

template <class Node>
void check(FuzzedDataProvider& in, FileResult (*load)(EntryList<Node>&, const std::string&),
           FileResult (*save)(const EntryList<Node>&, const std::string&))
{
    const std::string a = fuzz::scratchFile("a"), b = fuzz::scratchFile("b");
    EntryList<Node> first, again;
    if (in.ConsumeBool()) {
        // A file as anything may have left it.
        fuzz::writeFile(a, in.ConsumeRemainingBytesAsString());
        QVR_FUZZ_CHECK(load(first, a), "a readable file loads");
        QVR_FUZZ_CHECK(elementsOf(first).second, "whatever loads can be stored");
        QVR_FUZZ_CHECK(save(first, b), "whatever loads can be saved");
        QVR_FUZZ_CHECK(load(again, b), "a saved file loads");
        QVR_FUZZ_CHECK(elementsOf(again) == elementsOf(first), "load, save, load gives the same list");
        const std::string saved = readFile(b);
        QVR_FUZZ_CHECK(save(again, b) && readFile(b) == saved, "saving the same list writes the same file");
        return;
    }
    // A list made in memory, storable or not, saved over a file that holds something else.
    const std::string old = in.ConsumeRandomLengthString(40);
    fuzz::writeFile(a, old);
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        if constexpr (std::is_same_v<Node, QueueItem>) {
            std::string title = in.ConsumeRandomLengthString(40);
            first.AddTail(std::make_unique<QueueItem>(std::move(title), in.ConsumeRandomLengthString(60)));
        } else {
            first.AddTail(std::make_unique<RawEntryItem>(in.ConsumeRandomLengthString(60)));
        }
    }
    const bool ok = elementsOf(first).second;
    QVR_FUZZ_CHECK(static_cast<bool>(save(first, a)) == ok, "a list is saved exactly when every element is storable");
    QVR_FUZZ_CHECK(ok || readFile(a) == old, "a refused save leaves the file as it was");
    QVR_FUZZ_CHECK(!ok || static_cast<bool>(load(again, a)), "a saved file loads");
    QVR_FUZZ_CHECK(!ok || elementsOf(again) == elementsOf(first), "save then load gives the same list");
}

} // namespace

QVR_FUZZ_TARGET(in)
{
    if (in.ConsumeBool())
        check<QueueItem>(in, LoadDownloadQueue, SaveDownloadQueue);
    else
        check<RawEntryItem>(in, LoadRawQueue, SaveRawQueue);
}
