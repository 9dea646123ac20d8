#include "BenchDocument.h"

#include <iterator>
#include <string>

namespace {

// A fixed-seed generator, so every run and every machine gets the same file.
struct Random
{
    unsigned long long state = 0x9E3779B97F4A7C15ull;
    unsigned next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return unsigned(state >> 32);
    }
    unsigned below(unsigned n) { return next() % n; }
};

const char *const kWords[] = {"alpha", "bravo", "cargo", "delta", "engine", "filter", "gamma", "harbor",
                              "index", "jolly", "kernel", "lumen", "marble", "nectar", "orbit", "pixel"};
const char *const kJapanese[] = {"東京", "大阪", "書籍", "在庫", "価格", "配送", "注文", "確認", "日本語の説明",
                                 "商品", "品質", "新しい"};
const char *const kStatus[] = {"active", "pending", "archived"};

// A document written a megabyte at a time, with words drawn from the lists.
class Writer
{
protected:
    explicit Writer(std::ofstream &out) : m_out(out) {}

    std::string word() { return kWords[m_random.below(std::size(kWords))]; }
    std::string japanese() { return kJapanese[m_random.below(std::size(kJapanese))]; }
    void flush()
    {
        m_out.write(m_buffer.data(), std::streamsize(m_buffer.size()));
        m_written += (long long)m_buffer.size();
        m_buffer.clear();
    }

    std::ofstream &m_out;
    std::string m_buffer;
    long long m_written = 0;
    Random m_random;
};

class Generator : Writer
{
public:
    explicit Generator(std::ofstream &out) : Writer(out) {}

    // Writes sections of records until about `bytes` are written.
    void write(long long bytes)
    {
        m_buffer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- benchmark catalogue -->\n"
                   "<catalog version=\"1.0\">\n";
        for (int section = 1; m_written + (long long)m_buffer.size() < bytes; ++section) {
            line(1, "<section id=\"s" + std::to_string(section) + "\" name=\"" + word() + "\">");
            for (int i = 0; i < 100; ++i)
                record();
            line(1, "</section>");
        }
        m_buffer += "</catalog>\n";
        flush();
    }

private:
    void record()
    {
        const std::string id = std::to_string(++m_records);
        line(2, "<record id=\"r" + id + "\" status=\"" + kStatus[m_random.below(3)] + "\" updated=\"2024-"
                    + std::to_string(1 + m_random.below(12)) + "-" + std::to_string(1 + m_random.below(28)) + "\">");
        line(3, "<title lang=\"ja\">" + japanese() + " " + word() + "</title>");
        line(3, "<!-- checked " + id + " -->");
        line(3, "<author role=\"editor\">" + word() + " " + word() + "</author>");
        const unsigned items = 1 + m_random.below(5);
        line(3, "<items count=\"" + std::to_string(items) + "\">");
        for (unsigned i = 0; i < items; ++i)
            line(4, "<item sku=\"A-" + std::to_string(1000 + m_random.below(9000)) + "\" qty=\""
                        + std::to_string(1 + m_random.below(20)) + "\" price=\"" + std::to_string(m_random.below(100))
                        + ".50\">" + word() + " " + japanese() + "</item>");
        line(3, "</items>");
        line(3, "<description>" + word() + " " + japanese() + " " + word() + " " + word() + "</description>");
        line(2, "</record>");
    }
    void line(int depth, const std::string &text)
    {
        m_buffer.append(size_t(depth) * 2, ' ');
        m_buffer += text;
        m_buffer += '\n';
        if (m_buffer.size() > (1 << 20))
            flush();
    }

    int m_records = 0;
};

class DocBookGenerator : Writer
{
public:
    explicit DocBookGenerator(std::ofstream &out) : Writer(out) {}

    void write(long long bytes)
    {
        m_buffer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<article xmlns=\"http://docbook.org/ns/docbook\" "
                   "xmlns:xlink=\"http://www.w3.org/1999/xlink\" version=\"5.0\" xml:lang=\"ja\">\n"
                   "  <info><title>ベンチマーク</title></info>\n";
        for (int section = 1; m_written + (long long)m_buffer.size() < bytes; ++section) {
            const std::string id = "s" + std::to_string(section);
            m_buffer += "  <section xml:id=\"" + id + "\">\n    <title>" + japanese() + " " + word() + "</title>\n";
            for (int sub = 1; sub <= 10; ++sub) {
                m_buffer += "    <section xml:id=\"" + id + "." + std::to_string(sub) + "\">\n      <title>" + word() + "</title>\n";
                for (int p = 0; p < 4; ++p)
                    m_buffer += "      <para>" + japanese() + " <emphasis>" + word() + "</emphasis> " + word() + " <link xlink:href=\"#"
                              + id + "\">" + japanese() + "</link> <code>" + word() + "</code>.</para>\n";
                m_buffer += "      <itemizedlist>\n";
                for (unsigned i = 0, n = 1 + m_random.below(4); i < n; ++i)
                    m_buffer += "        <listitem><para>" + word() + " " + japanese() + "</para></listitem>\n";
                m_buffer += "      </itemizedlist>\n      <programlisting>" + word() + " = " + std::to_string(m_random.below(1000))
                          + ";</programlisting>\n    </section>\n";
            }
            m_buffer += "  </section>\n";
            if (m_buffer.size() > (1 << 20))
                flush();
        }
        m_buffer += "</article>\n";
        flush();
    }
};

} // namespace

void writeDocBookDocument(std::ofstream &out, long long bytes)
{
    DocBookGenerator(out).write(bytes);
}

void writeBenchDocument(std::ofstream &out, long long bytes)
{
    Generator(out).write(bytes);
}

extern const char kBenchDtd[] =
    "<!ELEMENT catalog (section*)><!ATTLIST catalog version CDATA #REQUIRED>\n"
    "<!ELEMENT section (record*)><!ATTLIST section id ID #REQUIRED name CDATA #REQUIRED>\n"
    "<!ELEMENT record (title, author, items, description)>\n"
    "<!ATTLIST record id ID #REQUIRED status (active|pending|archived) #REQUIRED updated CDATA #REQUIRED>\n"
    "<!ELEMENT title (#PCDATA)><!ATTLIST title lang NMTOKEN #REQUIRED>\n"
    "<!ELEMENT author (#PCDATA)><!ATTLIST author role CDATA #REQUIRED>\n"
    "<!ELEMENT items (item+)><!ATTLIST items count CDATA #REQUIRED>\n"
    "<!ELEMENT item (#PCDATA)><!ATTLIST item sku CDATA #REQUIRED qty CDATA #REQUIRED price CDATA #REQUIRED>\n"
    "<!ELEMENT description (#PCDATA)>\n";
extern const char kBenchXsd[] =
    "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'>"
    "<xs:complexType name='text'><xs:simpleContent><xs:extension base='xs:string'>"
    "<xs:anyAttribute processContents='skip'/></xs:extension></xs:simpleContent></xs:complexType>"
    "<xs:element name='catalog'><xs:complexType><xs:sequence>"
    "<xs:element name='section' minOccurs='0' maxOccurs='unbounded'><xs:complexType><xs:sequence>"
    "<xs:element name='record' minOccurs='0' maxOccurs='unbounded'><xs:complexType><xs:sequence>"
    "<xs:element name='title' type='text'/><xs:element name='author' type='text'/>"
    "<xs:element name='items'><xs:complexType><xs:sequence>"
    "<xs:element name='item' maxOccurs='unbounded'><xs:complexType><xs:simpleContent><xs:extension base='xs:string'>"
    "<xs:attribute name='sku' type='xs:string' use='required'/>"
    "<xs:attribute name='qty' type='xs:positiveInteger' use='required'/>"
    "<xs:attribute name='price' type='xs:decimal' use='required'/>"
    "</xs:extension></xs:simpleContent></xs:complexType></xs:element>"
    "</xs:sequence><xs:attribute name='count' type='xs:positiveInteger'/></xs:complexType></xs:element>"
    "<xs:element name='description' type='xs:string'/>"
    "</xs:sequence><xs:attribute name='id' type='xs:ID' use='required'/>"
    "<xs:attribute name='status'><xs:simpleType><xs:restriction base='xs:token'><xs:enumeration value='active'/>"
    "<xs:enumeration value='pending'/><xs:enumeration value='archived'/></xs:restriction></xs:simpleType></xs:attribute>"
    "<xs:attribute name='updated' type='xs:string'/></xs:complexType></xs:element>"
    "</xs:sequence><xs:attribute name='id' type='xs:ID'/><xs:attribute name='name' type='xs:string'/>"
    "</xs:complexType></xs:element>"
    "</xs:sequence><xs:attribute name='version' type='xs:string'/></xs:complexType></xs:element></xs:schema>";
