#include "framework/object.h"

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const
{
    for (const CRuntimeClass* c = this; c; c = c->m_pBaseClass) {
        if (c == pBaseClass)
            return true;
    }
    return false;
}

const CRuntimeClass CObject::classRecordCObject = {"CObject", nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const
{
    return &classRecordCObject;
}

bool CObject::IsKindOf(const CRuntimeClass* pClass) const
{
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}
