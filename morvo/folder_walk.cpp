#include "morvo/folder_walk.h"

namespace morvo {

std::vector<std::string> folder_line_segments(std::string_view line) {
    std::vector<std::string> seg;
    size_t start = 0;
    while (seg.size() < kFolderLineSegments) {
        size_t bar = line.find('|', start);
        seg.emplace_back(line.substr(start, bar == std::string_view::npos ? bar : bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    return seg;
}

WalkedFolder walk_folder_line(const outlook::NameSpace& ns, std::string_view line) {
    WalkedFolder w;
    try {
        const std::vector<std::string> seg = folder_line_segments(line);
        outlook::MAPIFolder folder = ns.Folders(std::string_view(seg[0]));
        for (size_t k = 1; k < seg.size() && !seg[k].empty(); ++k)
            folder = folder.Folders(std::string_view(seg[k]));
        w.result = FolderWalk::found;
        w.folder = std::move(folder);
    } catch (const platform::Error& e) {
        w.result = outlook::is_not_found(e) ? FolderWalk::not_found : FolderWalk::failed;
        w.error = e.description;
    } catch (const std::exception& e) {
        w.error = e.what();
    }
    return w;
}

}  // namespace morvo
