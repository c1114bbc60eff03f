#include "app/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "app/constants.h"

namespace zemlaro::app {

bool UseLegacyService(const std::string& settingsPath, bool fallback) {
  if (settingsPath.empty()) return fallback;
  const QSettings settings(QString::fromStdString(settingsPath), QSettings::IniFormat);
  return settings.value(QString::fromUtf8(kLegacyServiceKey), fallback).toBool();
}

void SetUseLegacyService(const std::string& settingsPath, bool legacy) {
  if (settingsPath.empty()) return;
  // The folder is the cookie store's: readable by the user alone.
  const QFileInfo file(QString::fromStdString(settingsPath));
  if (!file.dir().exists() && QDir().mkpath(file.absolutePath())) {
    QFile::setPermissions(file.absolutePath(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QSettings settings(QString::fromStdString(settingsPath), QSettings::IniFormat);
  settings.setValue(QString::fromUtf8(kLegacyServiceKey), legacy);
  settings.sync();
}

}  // namespace zemlaro::app
