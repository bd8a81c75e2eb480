// The folder tree behind TreeView1: a flat node collection in insertion (pre-order) order,
// 1-based indices, "|" between the names of a folder path, and the rules that act on it: the
// load down to 20 levels, the tick rule of TreeView1_NodeCheck, applying saved folder lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace morvo {

class FolderTree {
  public:
    struct Node {
        std::string text;
        int parent = 0;  // 0: a top-level node
        bool checked = false;
        std::string full_path;  // names never change after the load, so the path is kept
    };

    // Adds a node (parent 0: top level) and returns its index.
    int add(std::string text, int parent = 0);
    int count() const { return static_cast<int>(nodes_.size()); }
    const Node& node(int index) const { return nodes_.at(static_cast<size_t>(index - 1)); }
    const std::string& full_path(int index) const { return node(index).full_path; }
    bool checked(int index) const { return node(index).checked; }
    // A tick set by the program: it never cascades.
    void set_checked(int index, bool on) { nodes_.at(static_cast<size_t>(index - 1)).checked = on; }

    // TreeView1_NodeCheck, after the user's click changed node `index`: every node from that
    // index to the last whose path begins with the clicked node's path takes its state.
    // Returns the indices whose state was set.
    std::vector<int> node_check(int index);

    // Applies one saved folder line: decodes "#" to "," and ticks the first node whose path
    // equals the result exactly. Returns the index ticked, or 0.
    int apply_saved_line(std::string_view line);

    // The folder lines of "Speichern": every ticked node in index order, "," stored as "#".
    std::vector<std::string> saved_lines() const;

  private:
    std::vector<Node> nodes_;
};

// textzurueck: every "#" of sTxt becomes ",".
void textzurueck(std::string& sTxt);
// The encoding of a folder path as a folder line.
std::string encode_folder_line(std::string_view path);

// Where the load reads folders: a folder is named by its chain of 1-based positions from the
// namespace down ({} is the namespace itself). Both calls may throw; the load resumes.
class FolderSource {
  public:
    virtual ~FolderSource() = default;
    virtual std::int32_t folder_count(const std::vector<std::int32_t>& chain) = 0;
    virtual std::string folder_name(const std::vector<std::int32_t>& chain) = 0;
};

inline constexpr int kMaxTreeLevels = 20;

// The status line text before a folder is read.
std::string tree_status_text(long long folders_read);

// The tree load of the start-up sequence. `status` receives every status line text.
void load_folder_tree(FolderSource& source, FolderTree& tree,
                      const std::function<void(const std::string&)>& status);

}  // namespace morvo
