#include "singleappinstance.h"

TSingleAppInstance::TSingleAppInstance(QObject* parent)
    : QObject(parent)
{
}

TSingleAppInstance::~TSingleAppInstance() = default;

void TSingleAppInstance::SetMarker(const QString& marker)
{
    m_marker = marker;
}

void TSingleAppInstance::Loaded()
{
}
