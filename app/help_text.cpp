// The help window's text. Kept apart from the window, as the program's
// user guide: it changes with what the windows do, the window does not.

#include "app/help_window.h"

namespace qinglan {

namespace {

constexpr const char kHelpHtml[] = R"(<h2>青岚用户采集器 帮助</h2>
<p><a href="#collect">采集</a> · <a href="#resume">继续与停止</a> ·
<a href="#lists">结果列表</a> · <a href="#export">导出</a> ·
<a href="#settings">设置</a> · <a href="#team">团队数据库</a> ·
<a href="#cli">命令行</a> · <a href="#keys">快捷键</a></p>

<h3><a name="collect"></a>采集</h3>
<p>点击工具条上的“客服信息”（Ctrl+F），在“公司信息搜索”窗口中输入关键字，按回车或
“确定提交”。窗口保持打开，可以接着提交下一个关键字，几个关键字同时采集。</p>
<p>每个关键字都有自己的结果页；上方的“采集任务”列表显示每个任务的状态（排队、采集中、
重试中、完成、未完成、失败、已停止）、总量、完成数量和进度，一个关键字只占一行；
右键菜单的“清除已结束”去掉已结束的任务。状态栏一次只显示一个任务的采集进度，
全部结束时显示汇总。
采集到的每一位用户都立即保存到数据库中，以关键字为表名。</p>

<h3><a name="resume"></a>继续与停止</h3>
<p>已经采集完的关键字再次提交时，直接从数据库显示，不再重新采集。没有采集完的关键字
（网络失败、中途停止、程序被关闭）再次提交时，只采集缺少的用户。</p>
<p>在任务列表中右击一个任务：“停止”只停止这个任务，已保存的行保留；“继续”采集这个
关键字缺少的用户。右击结果页的标签：“重新采集”确认后重新采集整个关键字，
“删除关键词”确认后删除已保存的关键字。</p>
<p>点击“退出”、按 Esc 或关闭窗口时，如果还有任务在采集，程序先询问；确认后采集停止，
已保存的数据不会丢失。</p>

<h3><a name="lists">结果列表</a></h3>
<p>点击列标题按该列排序，再点一次反向排序；中文按拼音排序，空单元格总在最后。
在列表上方的筛选框中输入文字，只显示任一列含有这段文字的行（拉丁字母不分大小写），
旁边显示“显示 N / M 行”。选中单元格后按 Ctrl+C 复制，粘贴到 Excel 时一格对一格；
整行复制只带十二个资料列。列宽随内容加宽；显示不全的单元格，鼠标停在上面即可看到全部内容。</p>

<h3><a name="export"></a>导出</h3>
<p>选中一个结果页，点击“导出”（Ctrl+E）。导出窗口中可以选择当前结果页（有筛选时，
全部行或只导出筛选后显示的行），以及勾选其他已保存的关键字；几个关键字各占一个工作表，
或合并为一个工作表（同一用户账号只保留第一行）。</p>
<p>文件可以保存为 Excel 工作簿（.xlsx）或 CSV 文件；CSV 文件只能保存一个表，
几个关键字要合并后才能导出为 CSV。保存窗口从上次导出的文件夹打开，并建议文件名
（关键字.xlsx，合并时为“合并.xlsx”）。工作簿的列宽按内容设置。</p>

<h3><a name="settings"></a>设置</h3>
<p>“设置”中可以修改服务器地址、站点配置（站点的页面规则文件，.ini）、代理及其用户名和密码、
Cookie 文件、数据库服务器的用户名和密码、并行数、连接数、请求间隔、超时和重试次数、
页数上限和全部页面的内存上限。设置保存在数据文件夹中的 qinglan.ini，
按“确定”后开始的任务即使用新的设置；更新服务器和数据库地址在下次启动时生效。</p>

<h3><a name="team"></a>团队数据库</h3>
<p>在 qinglan.ini 的 [database] 一节中设置 url（或启动时用
--database postgresql://用户@主机:端口/数据库），程序就使用 PostgreSQL 服务器，
而不是数据文件夹中的数据库文件。几位同事可以同时使用同一个数据库：
正在由其他采集器采集的关键字，这里不会重复采集；已保存的关键字大家都能看到和导出。
用 qinglan queue add 把关键字放进工作队列，几台电脑上的 qinglan work 分头采集。
数据库暂时无法连接时，程序仍可采集、显示和导出，但数据不会保存。</p>

<h3><a name="cli"></a>命令行</h3>
<p>不打开窗口也可以使用：</p>
<pre>qinglan collect [选项] 关键字...      采集关键字并等待完成
qinglan export  [选项] 关键字... 文件  把已保存的关键字导出为 .xlsx 或 .csv
qinglan tables  [选项]                 列出已保存的关键字、行数和状态
qinglan forget  [选项] 关键字...       删除已保存的关键字
qinglan copy --from 位置 --to 位置 [关键字...]
                                      复制已保存的关键字
qinglan queue add [选项] 关键字...     把关键字加入团队的工作队列（数据库服务器）
qinglan work [选项]                    作为团队的一员采集队列中的关键字
qinglan site-check 文件                检查站点配置</pre>
<p>选项与“设置”中的项目相同，例如 --data-dir、--database、--site、--parallel；
qinglan --help 列出全部选项。</p>

<h3><a name="keys"></a>快捷键</h3>
<p>Ctrl+F 客服信息，Ctrl+E 导出，F1 帮助，Ctrl+Q 退出，Esc 关闭主窗口。</p>
)";

}  // namespace

QString HelpWindow::text() {
    return QString::fromUtf8(kHelpHtml);
}

}  // namespace qinglan
