#include "JXMediaHead.h"

void CJXMediaHead::Release()
{
    delete this;
}
