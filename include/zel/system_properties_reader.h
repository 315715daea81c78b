#pragma once
// The server's system properties: an ordered list of name and value texts, as the
// server sent them at login or in answer to a request.
//
// Ownership: the reader factory returns a new reader holding one reference for the
// caller. Texts live as long as the reader.
// [Threading] Immutable once returned; any thread.

#include "vorntool/add_ref.h"
#include "zel/zel_export.h"

class ZEL_API IZelSystemPropertiesReader : public IAddRef {
public:
    // The value of the first entry with exactly this name (case counts), or null.
    virtual const char* findProperty(const char* name) = 0;
    // The value of entry index, its name in name. Outside 0..size()-1: null, and
    // name null.
    virtual const char* getProperty(int index, const char*& name) = 0;
    virtual int size() = 0;

protected:
    IZelSystemPropertiesReader() = default;
    ~IZelSystemPropertiesReader() override = default;
};
