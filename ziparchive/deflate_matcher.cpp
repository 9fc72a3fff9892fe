#include "deflate.h"

#include <cstring>
#include <new>

DeflateContext* createDeflateContext()
{
    DeflateContext* context = new (std::nothrow) DeflateContext;
    if (context != nullptr)
        resetDeflateContext(*context);
    return context;
}

void destroyDeflateContext(DeflateContext* context)
{
    delete context;
}

void resetDeflateContext(DeflateContext& context)
{
    // memset, not assignment: a temporary of this size would not fit a thread stack.
    std::memset(&context, 0, sizeof context);
}

uint32_t runDeflate(DeflateContext& context)
{
    // Placeholder until the compressor lands.
    context.errorText = "not implemented";
    return 0;
}
