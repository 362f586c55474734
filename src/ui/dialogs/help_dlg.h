#pragma once
#include <QDialog>
#include <filesystem>
#include <vector>

class QPlainTextEdit;

namespace tn {
class IFileStore;
}

namespace tn::ui {

// "Tallynet Help": the text of readme.doc in an editable box whose edits are never saved.
class CHelp : public QDialog {
    Q_OBJECT
public:
    // `candidates`: the readme.doc files to try, in order, read through `files`.
    CHelp(const std::vector<std::filesystem::path>& candidates, IFileStore* files,
          QWidget* parent = nullptr);

    QPlainTextEdit* textControl() const { return m_text; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPlainTextEdit* m_text = nullptr;
};

} // namespace tn::ui
