#include "morvo/folder_tree.h"

#include <array>

#include "platform/resume.h"

namespace morvo {

int FolderTree::add(std::string text, int parent) {
    Node n;
    n.parent = parent;
    if (parent > 0) {
        n.full_path = node(parent).full_path + "|" + text;
    } else {
        n.full_path = text;
    }
    n.text = std::move(text);
    nodes_.push_back(std::move(n));
    return count();
}

std::vector<int> FolderTree::node_check(int index) {
    std::vector<int> changed;
    if (index < 1 || index > count()) return changed;
    const std::string ordner_pfad = full_path(index);
    const size_t ordner_laenge = ordner_pfad.size();
    const bool state = checked(index);
    const int iCount = count();
    for (int k = index; k <= iCount; ++k) {
        const std::string& p = nodes_[static_cast<size_t>(k - 1)].full_path;
        // UTF-8 is prefix-free per character, so a byte prefix equal to a whole path is
        // exactly the character prefix of the same length.
        if (p.size() >= ordner_laenge && p.compare(0, ordner_laenge, ordner_pfad) == 0) {
            nodes_[static_cast<size_t>(k - 1)].checked = state;
            changed.push_back(k);
        }
    }
    return changed;
}

int FolderTree::apply_saved_line(std::string_view line) {
    std::string decoded(line);
    textzurueck(decoded);
    for (int iRow = 1; iRow <= count(); ++iRow) {
        if (nodes_[static_cast<size_t>(iRow - 1)].full_path == decoded) {
            nodes_[static_cast<size_t>(iRow - 1)].checked = true;
            return iRow;
        }
    }
    return 0;
}

std::vector<std::string> FolderTree::saved_lines() const {
    std::vector<std::string> lines;
    for (const auto& n : nodes_)
        if (n.checked) lines.push_back(encode_folder_line(n.full_path));
    return lines;
}

void textzurueck(std::string& sTxt) {
    for (char& c : sTxt)
        if (c == '#') c = ',';
}

std::string encode_folder_line(std::string_view path) {
    std::string s(path);
    for (char& c : s)
        if (c == ',') c = '#';
    return s;
}

std::string tree_status_text(long long folders_read) {
    return std::to_string(folders_read) + " Ordner werden gelesen. Bitte haben Sie etwas Geduld";
}

namespace {

struct Loader {
    FolderSource& source;
    FolderTree& tree;
    const std::function<void(const std::string&)>& status;
    long long counter = 0;                         // the folder counter
    std::array<int, kMaxTreeLevels + 2> parent{};  // parent index per level 2 .. 20
    std::array<std::int32_t, kMaxTreeLevels + 2> loe{};
    std::array<std::string, kMaxTreeLevels + 2> name{};
    std::vector<std::int32_t> chain;  // i01 .. iNN of the current folder

    void say() {
        if (status) status(tree_status_text(counter));
    }

    std::int32_t count_at() {
        std::int32_t count = 0;
        platform::resume_on_error<platform::AnyError>([&] { count = source.folder_count(chain); });
        return count;
    }

    void read_name(int level) {
        // On failure the name stays as cleared after the previous folder.
        platform::resume_on_error<platform::AnyError>(
            [&] { name[level] = source.folder_name(chain); });
    }

    // Walks level L below the current folder of level L-1; loe[L] holds its count.
    void walk(int L) {
        const std::int32_t end = loe[L];
        for (std::int32_t i = 1; i <= end; ++i) {
            say();
            ++counter;
            if (parent[L] == 0) parent[L] = static_cast<int>(counter);
            chain.push_back(i);
            read_name(L);
            tree.add(name[L], parent[L]);
            if (L < kMaxTreeLevels) {
                loe[L + 1] = count_at();
                walk(L + 1);
                loe[L + 1] = 0;
                parent[L + 1] = 0;
            }
            name[L].clear();
            chain.pop_back();
        }
    }

    void run() {
        loe[1] = count_at();
        for (std::int32_t i01 = 1; i01 <= loe[1]; ++i01) {
            say();
            chain.assign(1, i01);
            read_name(1);
            tree.add(name[1], 0);
            loe[2] = count_at();
            walk(2);
            name[1].clear();
            loe[2] = 0;
            parent[2] = 0;
            ++counter;
        }
        chain.clear();
    }
};

}  // namespace

void load_folder_tree(FolderSource& source, FolderTree& tree,
                      const std::function<void(const std::string&)>& status) {
    Loader l{source, tree, status, 0, {}, {}, {}, {}};
    l.run();
}

}  // namespace morvo
