#include "setup/string_table.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

#include "platform/error.h"

namespace setup {
namespace {

const std::map<int32_t, std::string>& table() {
    static const std::map<int32_t, std::string> t = {
        {10, "Assistentvorlage"},
        {15, "Assistentvorlage..."},
        {100, "Hilfe"},
        {101, "Abbrechen"},
        {102, "< &Zurück"},
        {103, "&Weiter >"},
        {104, "&Fertigstellen"},
        {1000, "Einführung"},
        {1001, "Willkommen"},
        {1002, "&Dieses Dialogfeld in Zukunft nicht mehr anzeigen."},
        {2000, "Lizenzvertrag"},
        {2001, "Lesen Sie sich die Bestimmungen des Lizenzvertrages genau durch."},
        {2004, "Schritt 3"},
        {2005, "Anweisungen zu diesem Schritt."},
        {2006, "Schritt 4"},
        {2007, "Anweisungen zu diesem Schritt."},
        {3000, "Programmverzeichnis"},
        {3001, "Wählen Sie ein Verzeichnis aus."},
        {3002, "Um Ihr(e,n) ??? zu erstellen, klicken Sie auf 'Fertigstellen'!"},
        {3003, "Aktuelle Einstellungen als Voreinstellungen speichern"},
        {10000, "??? wurde erstellt"},
        {10001, "Der/die/das ??? wurde erstellt."},
        {10002, "Dieses Dialogfeld in Zukunft nicht mehr anzeigen."},
        {10003, "OK"},
        {20000, "(Keine)"},
        {30000, "Unvollständige Daten."},
        {30001, "Sie müssen ... bevor Sie fortfahren können."},
    };
    return t;
}

}  // namespace

std::string LoadResString(int32_t id) {
    auto it = table().find(id);
    if (it == table().end()) {
        throw platform::Error(
            326, "Ressource mit Bezeichner '" + std::to_string(id) + "' nicht gefunden");
    }
    return it->second;
}

std::string GetResText(int16_t& id) {
    std::string result;
    for (;;) {
        std::string s = LoadResString(id);
        bool more = !s.empty() && s.back() == '_';
        if (more) s.pop_back();
        result += s;
        // The id is a 16-bit variable: stepping past 32767 overflows like any other addition.
        if (id == INT16_MAX) throw platform::Error(6, "Überlauf");
        ++id;
        if (!more) break;
    }
    return result;
}

bool is_numeric_text(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool digits = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            digits = true;
        }
    }
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    return digits && i == text.size();
}

int16_t res_id_from_text(const std::string& text) {
    if (!is_numeric_text(text)) throw platform::Error(13, "Typen unverträglich");
    double v = std::nearbyint(std::strtod(text.c_str(), nullptr));
    if (v < INT16_MIN || v > INT16_MAX) throw platform::Error(6, "Überlauf");
    return static_cast<int16_t>(v);
}

}  // namespace setup
