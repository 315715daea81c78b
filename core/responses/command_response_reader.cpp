#include "core/responses/command_response_reader.h"

#include <cstdlib>
#include <cstring>

namespace zel {

bool ACommandResponseProcessor::onTokenizeBegin()
{
    m_error.clear();
    m_code = -1;
    return true;
}

bool ACommandResponseProcessor::onNextField(int line, int field, const char* text)
{
    if (line != 0)
        return true;
    if (field == 0) {
        if (!*text)
            return false;
        m_code = std::strtol(text, nullptr, 10);
        return true;
    }
    if (field == 1 && m_code != 0) {
        m_error = text;
        onFailure(m_error);
        return false;
    }
    return true;
}

bool CommandResponseProcessor::onLineEnd(int line)
{
    if (line != 0)
        return false;  // only the status line counts
    m_reader->setSuccessful(succeeded());
    if (!succeeded())
        m_reader->setErrorDescription(errorText().c_str());
    return false;
}

void CommandResponseProcessor::onFailure(const std::string& text)
{
    m_reader->setSuccessful(false);
    m_reader->setErrorDescription(text.c_str());
}

bool OrderResponseProcessor::onNextField(int line, int field, const char* text)
{
    if (line == 0)
        return ACommandResponseProcessor::onNextField(line, field, text);
    if (line == 1) {
        if (field == 0)
            m_reader->setOrderID(text);
        else if (field == 1)
            m_reader->setUnderDealerIntervention(std::strcmp(text, "Y") == 0);
    }
    return true;
}

bool OrderResponseProcessor::onLineEnd(int line)
{
    if (line != 1)
        return true;
    m_reader->setSuccessful(succeeded());
    if (!succeeded())
        m_reader->setErrorDescription(errorText().c_str());
    return false;
}

void OrderResponseProcessor::onFailure(const std::string& text)
{
    m_reader->setSuccessful(false);
    m_reader->setErrorDescription(text.c_str());
}

void LastOrderUpdatesParser::storeField(Order& record, int field, const char* text, size_t length)
{
    if (field == 1) {
        ZelTableUpdateType type = ZelTableUpdateType::Unknown;
        if (length == 1) {
            switch (text[0]) {
            case 'I': case 'i': type = ZelTableUpdateType::Insert; break;
            case 'U': case 'u': type = ZelTableUpdateType::Update; break;
            case 'D': case 'd': type = ZelTableUpdateType::Delete; break;
            default: break;
            }
        }
        m_reader->setUpdateType(type);
    } else if (field >= 2) {
        m_map.store(record, field - 2, text, length);
    }
}

bool LastOrderUpdatesParser::finishLine(int, std::unique_ptr<Order> record)
{
    RefPtr<OrderRow> row = adoptRef(new OrderRow(std::move(record), true));
    m_reader->add(row.get());
    return true;
}

} // namespace zel
