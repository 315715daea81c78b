#include "core/responses/tables_updates_reader.h"

namespace zel {

ZelTableUpdateType TablesUpdatesReader::getUpdateType(int index)
{
    if (index < 0 || index >= size())
        return ZelTableUpdateType::Unknown;
    return m_types[static_cast<size_t>(index)];
}

ZelTable TablesUpdatesReader::getUpdateTable(int index)
{
    if (index < 0 || index >= size())
        return static_cast<ZelTable>(-1);
    return m_tables[static_cast<size_t>(index)];
}

void TablesUpdatesReader::add(IZelRow* row, ZelTable table)
{
    if (!row)
        return;
    m_rows.emplace_back(row);
    m_tables.push_back(table);
}

IZelRow* TablesUpdatesReader::rowAt(int index) const
{
    return index >= 0 && static_cast<size_t>(index) < m_rows.size() ? m_rows[static_cast<size_t>(index)].get()
                                                                   : nullptr;
}

} // namespace zel
