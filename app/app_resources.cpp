#include "app/app_resources.h"

#include <QCoreApplication>
#include <QString>

#include "app/version_info.h"
#include "ui/framework/resources.h"
#include "ui/resource.h"

void RegisterAppResources() {
  SetStringResource(IDS_ABOUTBOX, kAboutMenuText);
  SetIconResource(IDR_MAINFRAME, QString::fromLatin1(kAppIconPath));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersionDotted));
}
