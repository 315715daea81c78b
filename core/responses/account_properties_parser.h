#pragma once
// Lines of a margin-requirements answer: profile;offer;margin1;margin2;margin3.
// Each line after the status line goes into the account-properties table.
//
// [Threading] One parse on the delivering thread; the table locks its own adds.

#include "core/responses/table_parsers.h"
#include "core/tables/accounts_properties_table.h"

namespace zel {

const FieldMap<AccountProperties>& accountPropertiesFieldMap();

class AccountPropertiessParser : public TRecordParser<AccountProperties> {
public:
    explicit AccountPropertiessParser(AccountsPropertiesTable* table)
        : TRecordParser<AccountProperties>(accountPropertiesFieldMap()), m_table(table)
    {
    }

protected:
    bool finishLine(int, std::unique_ptr<AccountProperties> record) override
    {
        if (m_table)
            m_table->add(std::move(record));
        return true;
    }

private:
    AccountsPropertiesTable* m_table;
};

} // namespace zel
