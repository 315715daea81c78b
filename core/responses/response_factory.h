#pragma once
// Turns what arrives into responses: answers by the request they answer, pushed
// messages by their kind, rejects into an error text.
//
// Ownership: every create returns a new response holding one reference for the
// caller, or null. [Threading] Stateless; any thread.

#include <cstdint>
#include <string>

#include "merrow/message.h"
#include "zel/request.h"
#include "zel/response.h"

namespace zel {

class Response;

class ResponseFactory {
public:
    ResponseFactory() = delete;

    // The command of a command request; -1 for null or any other request.
    static int32_t getCommand(IZelRequest* request);
    // The response type a request is answered with; Unknown for null, other
    // requests and commands without one.
    static ZelResponseType getResponseType(IZelRequest* request);

    // A pushed message: DAS and RTMP texts give a TablesUpdates response, a level-2
    // snapshot its own response; anything else null.
    static IZelResponse* createResponseFromMessage(merrow::IMessage* message);
    // The answer to a request. Null when the message is not an answer, or when a
    // DAS answer reports a failure: then error holds the text for onRequestFailed.
    static IZelResponse* createResponseFromMessage(IZelRequest* request, merrow::IMessage* message,
                                                   std::string& error);
    static Response* createResponseFromCommand(ZelResponseType type, const char* requestID, int32_t command);
    // The text of a request reject ("Desc=" and the server's text); error is
    // cleared first and stays empty when the message is not a reject.
    static void createErrorFromRejectRespone(merrow::IMessage* message, std::string& error);

    // The check of a DAS answer: true when its text starts with "0". Otherwise
    // error is the failure text: the second field of the first line, else its first
    // field, else "Cannot parse the response.".
    static bool checkDasResponse(const char* text, size_t length, std::string& error);
};

} // namespace zel
