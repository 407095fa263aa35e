// Writes the type information (.qmltypes) of the library's QML modules for QML
// tooling: code completion and checks in an interface project. The types are
// registered at run time, when the interface creates NorvikLink; this program
// describes the same types from their meta-objects, so the files follow the
// classes without being written by hand.
//
//   norvik-qmltypes <module> <output file>
//   module: NorvikRemote.Defines, NorvikRemote.Services or NotificationService
#include "app.h"
#include "appconfig.h"
#include "appdatabase.h"
#include "backlighthandler.h"
#include "norvik_link.h"
#include "norvik_link_defines.h"
#include "notificationservice.h"
#include "notificationstorageelement.h"
#include "notificationstoreage.h"
#include "systemeventservice.h"
#include "tag.h"
#include "tagdatabase.h"
#include "user.h"
#include "userdatabase.h"

#include <QFile>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QTextStream>

#include <cstdio>

namespace {

struct Component
{
    const QMetaObject* meta;
    const char* exportName; // null: described only, as the type of a property or argument
    bool creatable;
};

// A type name as QML tooling writes it: the class without its pointer.
QString typeName(QByteArray name, bool* pointer = nullptr)
{
    const bool isPointer = name.endsWith('*');
    if (pointer)
        *pointer = isPointer;
    if (isPointer)
        name.chop(1);
    return QString::fromLatin1(name.trimmed());
}

void writeParameters(QTextStream& out, const QMetaMethod& method)
{
    const QList<QByteArray> names = method.parameterNames();
    const QList<QByteArray> types = method.parameterTypes();
    for (int i = 0; i < types.size(); ++i) {
        bool pointer = false;
        const QString type = typeName(types.at(i), &pointer);
        out << "            Parameter { name: \"" << names.value(i) << "\"; type: \"" << type
            << "\"" << (pointer ? "; isPointer: true" : "") << " }\n";
    }
}

void writeComponent(QTextStream& out, const Component& c, const char* uri)
{
    const QMetaObject* mo = c.meta;
    out << "    Component {\n        name: \"" << mo->className() << "\"\n";
    if (mo->superClass())
        out << "        prototype: \"" << mo->superClass()->className() << "\"\n";
    if (c.exportName) {
        out << "        exports: [\"" << uri << "/" << c.exportName << " 1.0\"]\n"
            << "        isCreatable: " << (c.creatable ? "true" : "false") << "\n"
            << "        exportMetaObjectRevisions: [0]\n";
    }
    for (int i = mo->enumeratorOffset(); i < mo->enumeratorCount(); ++i) {
        const QMetaEnum e = mo->enumerator(i);
        out << "        Enum {\n            name: \"" << e.name() << "\"\n            values: {\n";
        for (int k = 0; k < e.keyCount(); ++k)
            out << "                \"" << e.key(k) << "\": " << e.value(k)
                << (k + 1 < e.keyCount() ? ",\n" : "\n");
        out << "            }\n        }\n";
    }
    for (int i = mo->propertyOffset(); i < mo->propertyCount(); ++i) {
        const QMetaProperty p = mo->property(i);
        bool pointer = false;
        const QString type = typeName(p.typeName(), &pointer);
        out << "        Property { name: \"" << p.name() << "\"; type: \"" << type << "\""
            << (pointer ? "; isPointer: true" : "") << (p.isWritable() ? "" : "; isReadonly: true")
            << " }\n";
    }
    for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (m.access() == QMetaMethod::Private || m.methodType() == QMetaMethod::Constructor)
            continue;
        const bool signal = m.methodType() == QMetaMethod::Signal;
        out << "        " << (signal ? "Signal" : "Method") << " {\n            name: \""
            << m.name() << "\"\n";
        if (!signal && m.returnType() != QMetaType::Void) {
            bool pointer = false;
            const QString type = typeName(m.typeName(), &pointer);
            out << "            type: \"" << type << "\"\n";
            if (pointer)
                out << "            isPointer: true\n";
        }
        writeParameters(out, m);
        out << "        }\n";
    }
    out << "    }\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <module> <output file>\n", argv[0]);
        return 2;
    }
    const QByteArray module = argv[1];
    QVector<Component> components;
    if (module == "NorvikRemote.Defines") {
        components = { { &NorvikLinkDefines::staticMetaObject, "Defines", false } };
    } else if (module == "NorvikRemote.Services") {
        // The facade and the objects it hands out are not exported (the interface gets
        // them from NorvikLink), but described so that tooling knows their members.
        components = { { &SystemEventService::staticMetaObject, "SystemEvent", false },
                       { &ServiceBase::staticMetaObject, nullptr, false },
                       { &NorvikLink::staticMetaObject, nullptr, false },
                       { &Data::staticMetaObject, nullptr, false },
                       { &Database::staticMetaObject, nullptr, false },
                       { &Tag::staticMetaObject, nullptr, false },
                       { &TagDatabase::staticMetaObject, nullptr, false },
                       { &App::staticMetaObject, nullptr, false },
                       { &AppConfig::staticMetaObject, nullptr, false },
                       { &AppDatabase::staticMetaObject, nullptr, false },
                       { &User::staticMetaObject, nullptr, false },
                       { &UserDatabase::staticMetaObject, nullptr, false },
                       { &NotificationStorage::staticMetaObject, nullptr, false },
                       { &NotificationStorageElement::staticMetaObject, nullptr, false },
                       { &BacklightHandler::staticMetaObject, nullptr, false } };
    } else if (module == "NotificationService") {
        components = { { &NotificationService::staticMetaObject, "NotificationService", true } };
    } else {
        std::fprintf(stderr, "unknown module %s\n", module.constData());
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    QTextStream out(&file);
    out << "import QtQuick.tooling 1.2\n\n// Written by norvik-qmltypes from the library's "
           "meta-objects.\n\nModule {\n    dependencies: [\"QtQuick 2.0\"]\n";
    for (const Component& c : qAsConst(components))
        writeComponent(out, c, module.constData());
    out << "}\n";
    out.flush();
    return file.error() == QFile::NoError ? 0 : 1;
}
