// One installer record: field 0 is the format template, fields 1 to fieldCount() its data, each
// null or holding an integer, a text or a stream. Nothing is cached: every read asks the installer.
// The record owns its installer record; the last copy of its handle group closes it.
#pragma once

#include "../msi/KestMsiObject.h"
#include "../text/KestCString.h"

#include <vector>

class KestMsiRecord : public KestMsiObject {
public:
    typedef unsigned int size_type;

    // Bytes asked of the installer per stream read.
    static constexpr unsigned int streamChunkSize = 80;

    // A new installer record of `count` data fields, all null.
    explicit KestMsiRecord(const size_type count);
    // Takes over the raw record handle of `record` in a group of its own; nothing else may close it.
    explicit KestMsiRecord(const KestMsiHandle& record);
    // A record that joins the handle group of `record`: one more owner of it, never closing it
    // while the group's other members live.
    static KestMsiRecord joining(const KestMsiHandle& record);
    KestMsiRecord(const KestMsiRecord&) = default;
    KestMsiRecord& operator=(const KestMsiRecord&) = default;
    ~KestMsiRecord() override = default;

    void dump(std::ostream& stream) const override;

    virtual void setRecordFormat(const KestCString& format);
    virtual void setStringField(unsigned int field, const KestCString& value);
    virtual void setIntegerField(unsigned int field, int value);
    // The field's stream becomes the content of the file at `filePath`.
    virtual void setStreamField(unsigned int field, const KestCString& filePath);
    virtual KestCString recordFormat() const;
    virtual KestCString stringField(unsigned int field) const;
    // The field's integer; a null field, or one holding no integer, is a failure.
    virtual int integerField(unsigned int field) const;
    // Appends the rest of the field's stream to `bytes`; false when the field holds no stream.
    virtual bool getStreamField(unsigned int field, std::vector<char>& bytes) const;
    // Nulls every field, keeping the record; false when the installer refused.
    virtual bool clearData();
    // Records are equal when the texts of their field 1 are.
    virtual bool operator==(const KestMsiRecord& other) const;
    virtual bool operator!=(const KestMsiRecord& other) const;

    unsigned int fieldCount() const;
    bool isNullField(unsigned int field) const;
    bool isIntegerField(unsigned int field) const;
    // No data field, or every data field null.
    bool isEmpty() const;
    // The text of one field of `record`, asked for length first and then fetched.
    KestCString stringData(const KestMsiHandle& record, unsigned int field) const;

private:
    struct Joining {};
    explicit KestMsiRecord(Joining) {}
};
