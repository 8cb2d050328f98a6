#pragma once

#include "encoder/Form1.h"
#include "widgets/LinkLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include <memory>
#include <stdexcept>

namespace corva::test {

// The window's widgets found by their design names, the way a test reaches them.
struct Form1Parts
{
    explicit Form1Parts(const Form1 &form) : m_form(form) {}

    // First: every widget below is looked up in it as it is initialised.
    const Form1 &m_form;

    template <typename W>
    W *Find(const char *name) const
    {
        W *widget = m_form.findChild<W *>(QLatin1String(name));
        if (!widget)
            throw std::logic_error(std::string("no widget named ") + name);
        return widget;
    }

#define CORVA_PART(Type, name) Type *const name = Find<Type>(#name);
    CORVA_PART(QLabel, Image1)
    CORVA_PART(LinkLabel, Label8)
    CORVA_PART(TopButton, xptopbuttons1)
    CORVA_PART(HelpButton, xphelp1)
    CORVA_PART(QLabel, Label1)
    CORVA_PART(QLineEdit, InputFile)
    CORVA_PART(PushButton, xpcmdbutton1)
    CORVA_PART(QLabel, Label2)
    CORVA_PART(QLineEdit, OutputFile)
    CORVA_PART(PushButton, xpcmdbutton2)
    CORVA_PART(QLabel, Label3)
    CORVA_PART(QComboBox, Combo1)
    CORVA_PART(PushButton, xpcmdbutton3)
    CORVA_PART(PushButton, command3)
    CORVA_PART(PushButton, command8)
    CORVA_PART(PushButton, command4)
    CORVA_PART(QLabel, PBar2)
    CORVA_PART(QLabel, Label7)
    CORVA_PART(QGroupBox, Frame1)
    CORVA_PART(QGroupBox, Frame2)
    CORVA_PART(QCheckBox, Check1)
    CORVA_PART(QCheckBox, Check2)
    CORVA_PART(QCheckBox, Check4)
    CORVA_PART(QCheckBox, Check3)
    CORVA_PART(QLabel, Label4)
    CORVA_PART(QLineEdit, Text1)
    CORVA_PART(QLabel, Label5)
    CORVA_PART(QLineEdit, Text2)
    CORVA_PART(QLabel, Label6)
    CORVA_PART(QLineEdit, Text3)
    CORVA_PART(QLabel, Label9)
    CORVA_PART(QComboBox, Combo2)
    CORVA_PART(QLabel, Label10)
    CORVA_PART(QComboBox, Combo3)
    CORVA_PART(QLabel, Label11)
    CORVA_PART(QComboBox, Combo4)
    CORVA_PART(QLabel, Label12)
    CORVA_PART(QComboBox, Combo5)
    CORVA_PART(QLabel, Label14)
    CORVA_PART(QComboBox, Combo8)
    CORVA_PART(QLabel, Label16)
    CORVA_PART(QComboBox, Combo6)
    CORVA_PART(QLabel, Label17)
    CORVA_PART(QLineEdit, Text4)
    CORVA_PART(QLabel, Label15)
    CORVA_PART(QLineEdit, Text5)
    CORVA_PART(QComboBox, Combo7)
    CORVA_PART(PushButton, command6)
    CORVA_PART(QListWidget, List1)
    CORVA_PART(QListWidget, List3)
    CORVA_PART(QListWidget, List2)
    CORVA_PART(PushButton, command7)
    CORVA_PART(PushButton, command9)
#undef CORVA_PART

};

inline Form1Parts Ui(const Form1 &form) { return Form1Parts(form); }
inline Form1Parts Ui(const Form1 *form) { return Form1Parts(*form); }
inline Form1Parts Ui(const std::unique_ptr<Form1> &form) { return Form1Parts(*form); }

} // namespace corva::test
