#pragma once

#include <QDialog>

// Stands in for the configuration dialog until it is part of the program: says so and closes.
class ConfigPlaceholder : public QDialog
{
    Q_OBJECT
public:
    explicit ConfigPlaceholder(QWidget *parent = nullptr);
};
