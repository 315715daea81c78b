// Logs in and lists the login's accounts with their balances.
//   list_accounts [URL]   (PELLORA_URL, PELLORA_USER, PELLORA_PASSWORD, PELLORA_CONNECTION)
// Exits 0 when it listed at least one account.
#include <cstdio>

#include "example_session.h"

int main(int argc, char** argv) {
    example::Session session;
    if (!session.login(example::settingsFrom(argc, argv))) return 1;

    // Both factories are null once the connection is gone.
    IZelRequestFactory* factory = session->getRequestFactory();
    if (!factory) return 1;
    IZelRequest* request = factory->createRefreshTableRequest(ZelTable::Accounts);
    IZelResponse* response = session.call(request);
    if (request) request->release();
    factory->release();
    if (!response) return 1;

    IZelResponseReaderFactory* readers = session->getResponseReaderFactory();
    IZelAccountsTableResponseReader* accounts = readers ? readers->createAccountsTableReader(response) : nullptr;
    const int count = accounts ? accounts->size() : 0;
    std::printf("%-10s %-12s %14s\n", "account", "kind", "balance");
    for (int i = 0; i < count; ++i) {
        IZelAccountRow* row = accounts->getRow(i);
        if (!row) continue;
        std::printf("%-10s %-12s %14.2f\n", row->getAccountID(), row->getAccountKind(), row->getBalance());
        row->release();
    }
    if (accounts) accounts->release();
    if (readers) readers->release();
    response->release();
    return count > 0 ? 0 : 1;
}
