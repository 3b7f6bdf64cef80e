#pragma once
// The chart's lesson tools: a take to compare with ("Compare" menu) and
// target vowels ("Targets" menu, Ctrl+click, right click, Delete), their
// dialogs, messages and remembered state.
#include <QObject>
#include <QString>
#include <functional>

class QToolButton;
class QWidget;

namespace quenvis {

class TVowelPlane;

class TChartTools : public QObject {
  Q_OBJECT

 public:
  // Status shows one line in the chart's status bar.
  TChartTools(QWidget* Window, TVowelPlane* Plane, std::function<void(const QString&)> Status);

  QToolButton* CompareButton() const noexcept { return FCompare; }
  QToolButton* TargetsButton() const noexcept { return FTargetsButton; }

  // Each returns an empty string or the message it showed.
  QString CompareWith(const QString& Path);
  void ClearComparison();
  QString LoadTargets(const QString& Path);
  QString SaveTargets(const QString& Path);
  // One target at each vowel mean of the comparison; returns how many.
  int TargetsFromComparison();
  void ClearTargets();

 private:
  void AskForComparison();
  void AskForTargets(bool Save);
  void RememberTargets() const;
  QString Folder() const;
  void SetFolder(const QString& File) const;

  QWidget* FWindow;
  TVowelPlane* FPlane;
  std::function<void(const QString&)> FStatus;
  QToolButton* FCompare;
  QToolButton* FTargetsButton;
};

}  // namespace quenvis
