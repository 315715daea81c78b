#include "core/responses/account_properties_parser.h"

namespace zel {

const FieldMap<AccountProperties>& accountPropertiesFieldMap()
{
    using R = AccountProperties;
    static const FieldMap<R> map{
        textField(0, &R::leverageProfileID), textField(1, &R::offerID), numberField(2, &R::margin1),
        numberField(3, &R::margin2),         numberField(4, &R::margin3),
    };
    return map;
}

} // namespace zel
