// The station catalogue: a JSON array of stations, each an object with the
// members "a" (the station's name) and "d" (its stream URL), both strings;
// other members are ignored. Its order is the order the picker offers.
#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>

#include "engine/net/HttpDownload.h"

namespace orvento {

// Where the catalogue server keeps it, after its base URL.
inline constexpr const char* kCataloguePath = "/js_kur/qelmoraiosapp.json";
// The largest catalogue accepted (some thousands of stations).
inline constexpr std::size_t kCatalogueMaxBytes = 4 * 1024 * 1024;

struct Station {
    QString name;
    QString url;
    bool operator==(const Station&) const = default;
};

inline size_t qHash(const Station& station, size_t seed = 0) {
    return qHashMulti(seed, station.name, station.url);
}

struct Catalogue {
    bool readable = false;    // the body is a JSON array
    QList<Station> stations;  // every usable element, in order, duplicates kept
    // What was wrong, one line each: the body as a whole, or an element that
    // was skipped (not an object, or no string "a" or "d").
    QStringList problems;
};

// Reads a catalogue body. Never fails: what cannot be used is skipped and
// named in `problems`.
Catalogue parseCatalogue(const QByteArray& body);

// How loading the catalogue went.
enum class CatalogueOutcome {
    loaded,      // at least one station
    failed,      // the download failed (or there is no server)
    tooLarge,    // the body is over kCatalogueMaxBytes
    unreadable,  // the body is not a JSON array
    empty,       // no usable station in it
};

// A catalogue download, read: what set-up and a reload apply.
struct CatalogueDownload {
    CatalogueOutcome outcome = CatalogueOutcome::failed;
    Catalogue catalogue;
    QString error;  // why the download failed, in the HTTP client's words; empty otherwise
};

// Reads a downloaded body into stations (parseCatalogue); any thread.
CatalogueDownload readCatalogueDownload(const HttpDownloadResult& download);

}  // namespace orvento
