#pragma once
// The property list behind the system-properties reader, and its two sources: the
// DAS text (name;value; pairs after the status line) and the RTMP XML form
// (<Prop name=".." value=".."/> elements).
//
// Ownership: parse returns a new list for the caller (a unique_ptr); the
// XML handler fills a list it does not own.
// [Threading] Built on one thread; read-only afterwards.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vornexpat/xml_parser.h"

namespace zel {

class PropertiesResponseReader {
public:
    // Duplicates are kept, in arrival order.
    void add(std::string name, std::string value) { m_entries.emplace_back(std::move(name), std::move(value)); }
    int size() const { return static_cast<int>(m_entries.size()); }
    // Null when absent; the text lives as long as the list.
    const char* find(const char* name) const;
    // Null outside the list (and name null).
    const char* get(int index, const char*& name) const;

private:
    std::vector<std::pair<std::string, std::string>> m_entries;
};

class PropertiesResponseProcessor {
public:
    PropertiesResponseProcessor(char fieldSeparator, char lineSeparator)
        : m_field(fieldSeparator), m_line(lineSeparator)
    {
    }
    // Never null; a null text gives an empty list.
    std::unique_ptr<PropertiesResponseReader> parse(const char* text) const;

private:
    char m_field;
    char m_line;
};

// Reads <SysConfigMsg><Prop name=".." value=".."/>...</SysConfigMsg>.
class CommandSAXParser : public IXmlParserHandler {
public:
    explicit CommandSAXParser(PropertiesResponseReader* reader) : m_reader(reader) {}
    void startElement(const char* name, const char** attrs) override;

private:
    PropertiesResponseReader* m_reader;
};

} // namespace zel
