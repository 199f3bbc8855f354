#pragma once
// The settings dialog's command ("⚙", Ctrl+,): shows the current values, and on OK applies
// them at once and saves config.ini.

namespace tarvok {

class TForm1;
struct TSettingsValues;

class TSettingsCommand {
 public:
  explicit TSettingsCommand(TForm1& AForm) : F(AForm) {}
  void btnSettingsClick();
  TSettingsValues Current() const;
  void Apply(const TSettingsValues& AValues);

 private:
  TForm1& F;
};

}  // namespace tarvok
